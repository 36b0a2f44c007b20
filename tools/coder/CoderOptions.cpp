#include "coder/CoderOptions.h"

#include "common/ToolFailure.h"

#include <algorithm>
#include <vector>

namespace CoderOptions {

Options parse(int argc, char **argv)
{
    if (argc < 2)
        throw toolError(ToolContract::Error::NoOutputFile);
    Options options;
    options.output = argv[argc - 1];
    static const std::vector<std::string> withValue = {
        "-i", "-ar", "-ab", "-ac", "-s", "-vcodec", "-acodec", "-b", "-crf", "-f", "-r"};
    for (int i = 1; i < argc - 1; ++i) {
        const std::string option = argv[i];
        if (option == "-y") {
            options.overwrite = true;
        } else if (option == "-vn") {
            options.noVideo = true;
        } else if (std::find(withValue.begin(), withValue.end(), option) != withValue.end()) {
            if (i + 1 >= argc - 1)
                throw toolError(ToolContract::Error::OptionNeedsValue,
                                option + ToolContract::Error::OptionNeedsValueEnd);
            const std::string value = argv[++i];
            // One file in, one out: which of two inputs was meant cannot be told.
            if (option == "-i" && !options.input.empty())
                throw toolError(ToolContract::Error::MoreThanOneInput);
            if (option == "-i")
                options.input = value;
            else
                options.values[option] = value;
        } else {
            throw toolError(ToolContract::Error::UnknownOption, option);
        }
    }
    if (options.input.empty())
        throw toolError(ToolContract::Error::NoInputFile, ", use -i");
    return options;
}

} // namespace CoderOptions
