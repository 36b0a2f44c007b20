#pragma once

#include "convert/OutputNaming.h"
#include "convert/ParameterSet.h"

#include <QString>

// What the batch driver reads from its front end while it runs: the parameters as the lists
// show them when a command is built, and the output folder, which the driver makes end with
// a separator before the first file.
class BatchHost
{
public:
    virtual ~BatchHost() = default;
    virtual ParameterSet currentParameters() const = 0;
    virtual QString outputFolderText() const = 0;
    virtual void setOutputFolderText(const QString &text) = 0;
    // Where outputs go and what they are called; the window's names in the output folder
    // unless the front end says otherwise.
    virtual OutputNaming outputNaming() const { return OutputNaming(outputFolderText()); }
    // Whether a file whose output is there already is skipped rather than converted again.
    virtual bool skipsExisting() const { return false; }
    // Whether outputs are dated when they are converted rather than as their sources are.
    virtual bool datesOutputsNow() const { return false; }
    // With skipsExisting: the reason the file failed with in an earlier batch of the same
    // settings into the same output folder, which skips it too; empty to convert it.
    virtual QString failedBefore(const QString &) const { return {}; }
};
