#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// The file a tool writes. The tool creates it itself, exclusively and without following links,
// under a hidden name nobody can tell in advance (ToolContract::temporaryPrefix) in the
// output's own folder, and hands the encoder the open file, never a name: whatever another user
// plants in that folder, the encoder writes into this file and no other. Only a run that
// succeeded renames it onto the final name, replacing the entry that stands there (the
// converter's reservation, an earlier output, a link, which is replaced and not followed); any
// other end removes it. The result belongs to the user, with the permissions the umask gives,
// never more than the input's own (limitModeTo).
//
// Run by the converter, the tool is told the identity of the folder the converter reserved the
// name in (ToolContract::OutputFolderIdentityVariable): the folder is opened once, refused
// unless it is that very folder, and the name is replaced only while it is still the empty file
// of the user's that reserved it.
class OutputFile
{
public:
    // The descriptor a child that writes the file gets it as.
    static constexpr int ChildDescriptor = 4;

    // `format` is the muxer the command line asks for, empty to pick it by the extension.
    // Throws ToolFailure when the format is refused, the final name is a folder or a device,
    // the folder cannot be written, or it is not the folder the converter reserved the name in.
    OutputFile(const std::string &path, const std::string &format = {});
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // The output gets the input's permissions as the umask leaves them, as cp gives a copy: a
    // private input makes a private output.
    void limitModeTo(mode_t inputMode);

    int descriptor() const { return m_fd; }
    const std::string &muxer() const { return m_muxer; }
    // The hidden name the file has until it is committed.
    std::string temporaryPath() const;
    // ffmpeg's output options for a child that holds the file as ChildDescriptor: the muxer
    // (`muxer` when not empty, else the one chosen) and the file.
    std::vector<std::string> ffmpegTarget(const std::string &muxer = {}) const;

    // Gives the written file its final name; throws ToolFailure when there is nothing to keep,
    // or the file or the name was taken over by somebody else meanwhile.
    void commit();

private:
    bool isOurs(const std::string &name) const;
    void checkReservedFolder();
    bool isReservation(const struct stat &status) const;

    std::string m_path; // as the user gave it, for messages
    std::string m_folderPath;
    std::string m_name; // the final name within the folder
    std::string m_muxer;
    std::string m_temporary; // the hidden name within the folder
    int m_folder = -1;
    int m_fd = -1;
    mode_t m_umask = 022;
    mode_t m_mode = 0644; // what the umask leaves of 0666
    // The converter's reservation at the final name, while it runs the tool.
    bool m_reserved = false;
    dev_t m_reservationDevice = 0;
    ino_t m_reservationInode = 0;
    bool m_committed = false;
};
