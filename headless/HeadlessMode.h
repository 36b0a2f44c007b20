#pragma once

#include <QStringList>

// `vidmorph --convert ...` and `vidmorph --watch ...`: converts without a window, under a
// QCoreApplication, so it needs no display and runs beside an open window (it takes no
// single-instance lock and keeps its scratch files in a folder of its own).
namespace HeadlessMode {

// Runs the whole command and returns the process's exit status, one of ExitStatus.
int run(int &argc, char **argv);

} // namespace HeadlessMode
