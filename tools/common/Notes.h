#pragma once

#include <string>

// Lines of information beside the progress (ToolContract::NotePrefix), flushed at once so the
// converter reads each in order with the progress lines around it.
namespace Notes {

// Prints NotePrefix + text and a line break.
void print(const std::string &text);

} // namespace Notes
