#pragma once

#include <functional>

// Runs a tool's work: installs signal forwarding, prints the one error line of a failure and
// gives the exit code (0 on success, 1 on failure, 128 + signal when stopped).
int runTool(const std::function<void()> &work);
