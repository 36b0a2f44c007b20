#include "conv/ConvOptions.h"

#include "common/ToolFailure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace ConvOptions {

void badParameter(const std::string &what)
{
    throw toolError(ToolContract::Error::BadParameter, " " + what);
}

// "a=1:b=2" into the map; several option groups add up, a later key replacing an earlier one.
static void splitSuboptions(const std::string &text, std::map<std::string, std::string> &into,
                            const std::string &option)
{
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(':', start), text.size());
        const std::string item = text.substr(start, end - start);
        const size_t eq = item.find('=');
        if (item.empty() || eq == std::string::npos || eq == 0)
            badParameter(option + " " + text);
        into[item.substr(0, eq)] = item.substr(eq + 1);
        start = end + 1;
    }
}

Options parse(int argc, char **argv)
{
    Options options;
    const std::vector<std::string> withValue = {"-oac",  "-lameopts", "-ovc",      "-lavcopts",
                                                "-ofps", "-of",       "-lavfopts", "-o"};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (std::find(withValue.begin(), withValue.end(), argument) == withValue.end()) {
            if (!options.input.empty())
                throw toolError(ToolContract::Error::MoreThanOneInput);
            options.input = argument;
            continue;
        }
        if (i + 1 >= argc)
            throw toolError(ToolContract::Error::OptionNeedsValue,
                            argument + ToolContract::Error::OptionNeedsValueEnd);
        const std::string value = argv[++i];
        if (argument == "-oac") {
            options.audioEncoder = value;
        } else if (argument == "-ovc") {
            options.videoEncoder = value;
        } else if (argument == "-ofps") {
            options.frameRate = value;
        } else if (argument == "-of") {
            options.container = value;
        } else if (argument == "-o") {
            options.output = value;
        } else if (argument == "-lavcopts") {
            splitSuboptions(value, options.lavc, argument);
        } else {
            std::map<std::string, std::string> sub;
            splitSuboptions(value, sub, argument);
            for (const auto &[key, subValue] : sub) {
                if (argument == "-lameopts" && key == "preset")
                    options.lamePreset = subValue;
                else if (argument == "-lavfopts" && key == "format")
                    options.lavfFormat = subValue;
                else
                    badParameter(argument + " " + key);
            }
        }
    }
    if (options.input.empty())
        throw toolError(ToolContract::Error::NoInputFile);
    if (options.output.empty())
        throw toolError(ToolContract::Error::NoOutputFile, ", use -o");
    return options;
}

// MEncoder's vbitrate and abitrate are kbit/s, vbitrate also bit/s above 16000.
std::string bitrate(const std::string &text, const std::string &key, bool bitsAbove16000)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0) || value > 1e9)
        badParameter(key + "=" + text);
    if (bitsAbove16000 && value > 16000)
        return std::to_string((long long)value);
    return std::to_string((long long)std::llround(value * 1000));
}

double parseRate(const std::string &text)
{
    char *end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (*end == '/') {
        const double denominator = std::strtod(end + 1, &end);
        value = denominator > 0 ? value / denominator : 0;
    }
    if (text.empty() || *end != '\0' || !(value > 0) || value > 1000)
        badParameter("-ofps " + text);
    return value;
}

} // namespace ConvOptions
