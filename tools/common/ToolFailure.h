#pragma once

#include "ToolContract.h"

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
