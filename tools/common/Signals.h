#pragma once

#include <sys/types.h>

// SIGTERM, SIGINT and SIGHUP are passed on to the running ffmpeg child, so that stopping a
// tool also stops its encoder; the tool then removes its partial output and exits.
namespace Signals {

void install();
// The child that a stop signal is forwarded to; 0 for none.
void setChild(pid_t pid);
// The stop signal received, or 0.
int received();

} // namespace Signals
