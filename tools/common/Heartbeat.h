#pragma once

#include <string>
#include <sys/types.h>

// ffmpeg may be silent for long while it works (a slow first frame of a huge picture, coder2's
// AMR pass), so the tool's latest progress line is printed again after a second without output,
// as long as the encoder uses the processor, and the user sees it is at work. The converter's
// stall watch goes by the position those lines carry, not by the lines: an encoder that spins
// without getting anywhere is ended all the same, and one that uses no processor (stuck on a
// dead network share) gets no repeated line either.
namespace Heartbeat {

// Prints a line and keeps it, or repeat when given, as the line to repeat.
void print(const std::string &line, const std::string &repeat = {});
// Keeps a line to repeat before the tool has printed any.
void setLine(const std::string &line);
// Called by the child's reader a few times a second while the child runs.
void tick(pid_t child);

} // namespace Heartbeat
