#pragma once

#include <string>
#include <sys/types.h>

// The converter ends a tool that prints nothing for ten minutes. ffmpeg may be silent for long
// while it works (a slow first frame of a huge picture, coder2's AMR pass), so the tool's
// latest progress line is printed again after a second without output, as long as the
// encoder uses the processor. An encoder that uses none (stuck on a dead network share)
// gets no such help: the converter's stall watch is there to end it.
namespace Heartbeat {

// Prints a line and keeps it, or repeat when given, as the line to repeat.
void print(const std::string &line, const std::string &repeat = {});
// Keeps a line to repeat before the tool has printed any.
void setLine(const std::string &line);
// Called by the child's reader a few times a second while the child runs.
void tick(pid_t child);

} // namespace Heartbeat
