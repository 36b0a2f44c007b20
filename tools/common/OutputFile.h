#pragma once

#include <string>
#include <sys/types.h>

// The file a tool writes. The encoder writes to a hidden name in the same folder (keeping the
// extension, so ffmpeg still sees the format), and only a successful run gives it the final
// name; any other end removes it, so a failed or stopped run never leaves a partial file.
//
// A tool never replaces a file. The converter reserves each output name by creating it as an
// empty file before it starts the tool, so that runs writing into one folder at once get
// distinct names; that empty file, as found when the tool starts, is the one file the output
// may take the place of. Anything else at the final name (a file with content, a folder, a
// file that appeared while the encoder ran) fails the run and is left as it is, whatever -y
// says.
class OutputFile
{
public:
    // Throws ToolFailure when the final name is taken by anything but an empty file, or its
    // folder cannot be written.
    explicit OutputFile(const std::string &path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    const std::string &temporaryPath() const { return m_temporary; }

    // How the finished file takes a free final name: a rename that refuses to replace, or,
    // where the file system refuses that flag (NFS), a hard link and the removal of the
    // hidden name. Link is for tests of that second way.
    enum class Route { Rename, Link };

    // Gives the written file its final name; throws ToolFailure when there is nothing to keep
    // or the name is no longer free or reserved.
    void commit(Route route = Route::Rename);

private:
    void moveToFreeName(Route route);

    std::string m_path; // as the user gave it, for messages
    std::string m_final;
    std::string m_temporary;
    bool m_reserved = false; // the final name held an empty file when the tool started
    dev_t m_reservationDevice = 0;
    ino_t m_reservationInode = 0;
    bool m_committed = false;
};
