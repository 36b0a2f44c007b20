#pragma once

#include "ToolContract.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

// A failure the user should read about: its text is printed as the tool's one error line.
class ToolFailure : public std::runtime_error
{
public:
    explicit ToolFailure(const std::string &line) : std::runtime_error(line) {}
};

// The error line ToolContract::ErrorPrefix + text + detail, text being one of
// ToolContract::Error's fixed beginnings.
[[nodiscard]] inline ToolFailure toolError(const char *text, const std::string &detail = {})
{
    return ToolFailure(std::string(ToolContract::ErrorPrefix) + text + detail);
}

// The text for a system call that failed for want of memory, processes (a fork's EAGAIN) or
// open files; nullptr for any other reason.
inline const char *shortageOf(int error)
{
    switch (error) {
    case ENOMEM:
        return ToolContract::Error::OutOfMemory;
    case EAGAIN:
        return ToolContract::Error::OutOfProcesses;
    case EMFILE:
    case ENFILE:
        return ToolContract::Error::OutOfDescriptors;
    default:
        return nullptr;
    }
}

// A failed system call: text + detail + the system's reason, or, when the system ran short of
// something, that shortage's text followed by the same.
[[nodiscard]] inline ToolFailure systemError(const char *text, const std::string &detail, int error)
{
    if (const char *shortage = shortageOf(error))
        return toolError(shortage, ": " + detail + std::strerror(error));
    return toolError(text, detail + std::strerror(error));
}
