#pragma once

#include <map>
#include <string>

// conv's command line, read apart from the encoding so that tests and the fuzz
// targets can feed them any arguments. A bad command line throws ToolFailure with the one
// error line the tool prints.

// conv: MEncoder's options as the converter uses them.
namespace ConvOptions {

struct Options
{
    std::string input;
    std::string output;
    std::string audioEncoder; // -oac
    std::string lamePreset;   // -lameopts preset=
    std::string videoEncoder; // -ovc
    std::map<std::string, std::string> lavc;
    std::string frameRate;  // -ofps
    std::string container;  // -of
    std::string lavfFormat; // -lavfopts format=
};

[[noreturn]] void badParameter(const std::string &what);

Options parse(int argc, char **argv);

// A -lavcopts vbitrate or abitrate as ffmpeg's bits per second.
std::string bitrate(const std::string &text, const std::string &key, bool bitsAbove16000);

// An -ofps rate, "25" or "30000/1001", as frames per second.
double parseRate(const std::string &text);

} // namespace ConvOptions
