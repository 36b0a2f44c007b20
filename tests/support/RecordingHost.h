#pragma once

#include "convert/BatchHost.h"
#include "convert/OutputNaming.h"

// What a front end gives the engine in the engine's own tests: fixed parameters and an output
// folder, and what the engine writes back.
class RecordingHost : public BatchHost
{
public:
    ParameterSet parameters;
    QString folder;
    OutputNaming::Names names = OutputNaming::Names::Timed;
    bool skip = false;
    ParameterSet currentParameters() const override { return parameters; }
    QString outputFolderText() const override { return folder; }
    void setOutputFolderText(const QString &text) override { folder = text; }
    OutputNaming outputNaming() const override { return OutputNaming(folder, names); }
    bool skipsExisting() const override { return skip; }
};
