#pragma once

#include <stdexcept>
#include <string>

// A failure the user should read about: its text is printed as the tool's one error line.
class ToolFailure : public std::runtime_error
{
public:
    explicit ToolFailure(const std::string &reason) : std::runtime_error(reason) {}
};
