#include "Notes.h"

#include "ToolContract.h"

#include <cstdio>

namespace Notes {

void print(const std::string &text)
{
    std::printf("%s%s\n", ToolContract::NotePrefix, text.c_str());
    std::fflush(stdout);
}

} // namespace Notes
