#pragma once

#include <string>

// The file a tool writes. The encoder writes to a hidden name in the same folder (keeping the
// extension, so ffmpeg still sees the format), and only a successful run renames it to the
// final name; any other end removes it, so a failed or stopped run never leaves a partial file.
class OutputFile
{
public:
    // Throws ToolFailure when the file exists and may not be replaced.
    OutputFile(const std::string &path, bool overwrite);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    const std::string &temporaryPath() const { return m_temporary; }
    // Gives the written file its final name; throws ToolFailure when there is nothing to keep.
    void commit();

private:
    std::string m_final;
    std::string m_temporary;
    bool m_committed = false;
};
