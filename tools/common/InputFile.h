#pragma once

#include <string>
#include <sys/stat.h>
#include <vector>

// The user's file a tool converts, opened once: everything the tool learns of it and everything
// ffmpeg reads comes from this open file, so the name can be swapped for a link or another file
// meanwhile without anything else being read. When the converter says which file it checked
// (ToolContract::InputIdentityVariable), a file that is not that one is refused.
class InputFile
{
public:
    // The descriptor a child that reads the file gets it as.
    static constexpr int ChildDescriptor = 5;

    // Throws ToolFailure when the file is missing, not a regular file, empty, unreadable, or
    // not the one the converter checked.
    explicit InputFile(const std::string &path);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    const std::string &path() const { return m_path; }
    int descriptor() const { return m_fd; }
    const struct stat &status() const { return m_status; }

    // ffmpeg's options that open the file, held as ChildDescriptor, as its next input with the
    // demuxer that read it in process (empty: ffmpeg's own guess), and nothing but a local media
    // file of ToolContract::InputFormats.
    std::vector<std::string> ffmpegArguments(const std::string &demuxer) const;

    // Gives the open file `fd` (an output) the input's dates, unless ToolContract's
    // OutputDateVariable says to keep the conversion's.
    void giveDatesTo(int fd) const;

private:
    std::string m_path;
    int m_fd = -1;
    struct stat m_status = {};
};
