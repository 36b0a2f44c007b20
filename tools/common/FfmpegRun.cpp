#include "FfmpegRun.h"

#include "FfmpegText.h"
#include "Signals.h"
#include "Subprocess.h"
#include "ToolStopped.h"

#include <cstdlib>

FfmpegRun::FfmpegRun(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

void FfmpegRun::run(const Progress &progress, const std::string &failurePrefix)
{
    std::vector<std::string> arguments = {"ffmpeg",    "-nostdin", "-hide_banner",  "-nostats",
                                          "-progress", "pipe:1",   "-stats_period", "0.1"};
    arguments.insert(arguments.end(), m_arguments.begin(), m_arguments.end());

    std::string pending, errors;
    const auto onProgress = [&](const char *data, size_t size) {
        pending.append(data, size);
        size_t start = 0, end;
        while ((end = pending.find('\n', start)) != std::string::npos) {
            const std::string line = pending.substr(start, end - start);
            start = end + 1;
            static const std::string key = "out_time_us=";
            if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
                line[key.size()] != 'N') {
                const long long micro = std::atoll(line.c_str() + key.size());
                if (micro >= 0)
                    progress(double(micro) / 1e6);
            }
        }
        pending.erase(0, start);
    };
    const auto onErrors = [&](const char *data, size_t size) {
        errors.append(data, size);
        // Only the end says why it failed; keep memory bounded on long noisy runs.
        if (errors.size() > (1u << 20))
            errors.erase(0, errors.size() - (1u << 19));
    };

    const int code = Subprocess(arguments).run(onProgress, onErrors);
    if (Signals::received() != 0)
        throw ToolStopped(Signals::received());
    if (code != 0)
        throw ToolFailure(failurePrefix + FfmpegText::failureReason(errors));
}
