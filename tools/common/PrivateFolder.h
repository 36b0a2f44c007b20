#pragma once

#include <string>
#include <vector>

// A temporary folder of the tool's own (mode 0700 under $TMPDIR or /tmp), removed with the
// files it was asked to name when the tool ends, however it ends.
class PrivateFolder
{
public:
    // Throws ToolFailure when the folder cannot be made.
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;

    // The path of a file in the folder, which the destructor removes.
    std::string file(const std::string &name);

private:
    std::string m_path;
    std::vector<std::string> m_files;
};
