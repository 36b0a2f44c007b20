#pragma once

#include <map>
#include <string>

// The command line of coder and coder2, read apart from the encoding so that tests and the fuzz
// targets can feed them any arguments. A bad command line throws ToolFailure with the one
// error line the tool prints.

// coder and coder2: ffmpeg's options as the converter uses them, the output file last.
namespace CoderOptions {

struct Options
{
    std::string input;
    std::string output;
    bool overwrite = false; // -y: accepted; a tool never replaces a file all the same
    bool noVideo = false;
    std::map<std::string, std::string> values; // -ar -ab -ac -s -vcodec -acodec -b -crf -f -r
};

Options parse(int argc, char **argv);

} // namespace CoderOptions
