#pragma once

#include <functional>
#include <string>
#include <vector>

// One ffmpeg encoding. It runs quietly (no banner, no statistics, no standard input) and
// reports the position reached through its machine-readable progress stream, which the tools
// turn into the progress lines their readers expect.
class FfmpegRun
{
public:
    using Progress = std::function<void(double seconds)>;

    explicit FfmpegRun(std::vector<std::string> arguments);

    // Runs to the end. Throws ToolFailure with ffmpeg's reason, prefixed by failurePrefix, when
    // it fails, and ToolStopped when a stop signal ended it.
    void run(const Progress &progress, const std::string &failurePrefix);

private:
    std::vector<std::string> m_arguments;
};
