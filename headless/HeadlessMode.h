#pragma once

#include <QStringList>

// `vidmorph --convert ...`: converts without a window, under a QCoreApplication, so it needs
// no display and runs beside an open window (it takes no single-instance lock and keeps its
// scratch files in a folder of its own).
namespace HeadlessMode {

// Runs the whole command and returns the process's exit status: 0 every file converted,
// 1 a file failed, 2 bad arguments, 128 + n stopped by signal n.
int run(int &argc, char **argv);

} // namespace HeadlessMode
