#include "OutputFile.h"

#include "FfmpegText.h"
#include "OutputFormat.h"
#include "ToolContract.h"
#include "ToolFailure.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Error = ToolContract::Error;

namespace {

constexpr int NameAttempts = 16;
const std::string TakenOver = ": another program took the place of the output";
constexpr size_t MaxName = 255;

// Twelve letters and digits from the kernel's random source: about 71 bits nobody can guess.
std::string randomLetters()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[12];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            throw systemError(Error::TemporaryFileUnavailable, "", errno);
        got += n > 0 ? size_t(n) : 0;
    }
    std::string letters;
    for (unsigned char byte : bytes)
        letters += alphabet[byte % (sizeof alphabet - 1)];
    return letters;
}

mode_t currentUmask()
{
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

OutputFile::OutputFile(const std::string &path, const std::string &format) : m_path(path)
{
    if (path.empty())
        throw toolError(Error::NoOutputFile);
    const std::string absolute = FfmpegText::absolutePath(path);
    const size_t slash = absolute.rfind('/');
    m_folderPath = slash == 0 ? std::string("/") : absolute.substr(0, slash);
    m_name = absolute.substr(slash + 1);
    if (m_name.empty() || m_name == "." || m_name == "..")
        throw toolError(Error::OutputIsFolder, path);
    m_folder = open(m_folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        throw systemError(Error::OutputFolderUnwritable, m_folderPath + ": ", errno);
    try {
        checkReservedFolder();
        // What stands at the final name is replaced as an entry; a link is never followed.
        struct stat status = {};
        if (fstatat(m_folder, m_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(status.st_mode))
                throw toolError(Error::OutputIsFolder, path);
            if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode))
                throw toolError(Error::OutputNotAFile, path);
            if (m_reserved && isReservation(status)) {
                m_reservationDevice = status.st_dev;
                m_reservationInode = status.st_ino;
            }
        }
        if (m_reserved && m_reservationInode == 0)
            throw toolError(Error::CannotCreate, path + TakenOver);
        m_muxer = OutputFormat::muxerFor(format, path);
        m_umask = currentUmask();
        m_mode = 0666 & ~m_umask;
        const std::string prefix = ToolContract::temporaryPrefix(getpid());
        for (int attempt = 1; m_fd < 0; ++attempt) {
            const std::string head = prefix + randomLetters() + "-";
            // The end of the final name (its extension) stays, within a name's 255 bytes.
            const std::string name =
                head + (head.size() + m_name.size() > MaxName
                            ? m_name.substr(m_name.size() - (MaxName - head.size()))
                            : m_name);
            // Private until it is done; O_EXCL never opens what is there, link or file.
            m_fd = openat(m_folder, name.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (m_fd >= 0)
                m_temporary = name;
            else if (errno != EEXIST || attempt >= NameAttempts)
                throw systemError(Error::OutputFolderUnwritable, m_folderPath + ": ", errno);
        }
    } catch (...) {
        close(m_folder);
        throw;
    }
}

void OutputFile::checkReservedFolder()
{
    const char *reserved = getenv(ToolContract::OutputFolderIdentityVariable);
    if (!reserved || !*reserved)
        return;
    m_reserved = true;
    struct stat folder = {};
    if (fstat(m_folder, &folder) != 0)
        throw systemError(Error::OutputFolderUnwritable, m_folderPath + ": ", errno);
    if (ToolContract::identity(folder.st_dev, folder.st_ino) != reserved)
        throw toolError(Error::OutputFolderReplaced, m_folderPath);
}

bool OutputFile::isReservation(const struct stat &status) const
{
    return S_ISREG(status.st_mode) && status.st_size == 0 && status.st_uid == geteuid() &&
           (m_reservationInode == 0 ||
            (status.st_dev == m_reservationDevice && status.st_ino == m_reservationInode));
}

void OutputFile::limitModeTo(mode_t inputMode)
{
    m_mode &= (inputMode & 0777) & ~m_umask;
}

OutputFile::~OutputFile()
{
    if (!m_committed && isOurs(m_temporary))
        unlinkat(m_folder, m_temporary.c_str(), 0);
    close(m_fd);
    close(m_folder);
}

std::string OutputFile::temporaryPath() const
{
    return m_folderPath + (m_folderPath == "/" ? "" : "/") + m_temporary;
}

std::vector<std::string> OutputFile::ffmpegTarget(const std::string &muxer) const
{
    return {"-f", muxer.empty() ? m_muxer : OutputFormat::muxerFor(muxer, m_name),
            "file:/proc/self/fd/" + std::to_string(ChildDescriptor)};
}

bool OutputFile::isOurs(const std::string &name) const
{
    struct stat entry = {}, file = {};
    return !name.empty() && fstatat(m_folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstat(m_fd, &file) == 0 && entry.st_dev == file.st_dev && entry.st_ino == file.st_ino;
}

void OutputFile::commit()
{
    const std::string final = m_folderPath + "/" + m_name;
    struct stat written = {};
    if (fstat(m_fd, &written) != 0 || written.st_size == 0)
        throw toolError(Error::NoOutputWritten);
    // Private while it was written; as any new file of the user's now. A file system without
    // permissions (FAT on a memory stick) refuses the change, and needs none.
    fchmod(m_fd, m_mode);
    // In a folder others may write, the hidden name may have been given to another file; the
    // rename moves a name, so the file must be checked before and the name after it.
    if (!isOurs(m_temporary))
        throw toolError(Error::CannotCreate, final + TakenOver);
    // The converter's reservation gives way to the output; anything put in its place meanwhile
    // is not the converter's to replace.
    struct stat standing = {};
    if (m_reserved && (fstatat(m_folder, m_name.c_str(), &standing, AT_SYMLINK_NOFOLLOW) != 0 ||
                       !isReservation(standing)))
        throw toolError(Error::CannotCreate, final + TakenOver);
    if (renameat(m_folder, m_temporary.c_str(), m_folder, m_name.c_str()) != 0) {
        const int error = errno;
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            throw toolError(Error::OutputIsFolder, m_path);
        throw systemError(Error::CannotCreate, final + ": ", error);
    }
    m_committed = true;
    if (!isOurs(m_name))
        throw toolError(Error::CannotCreate, final + TakenOver);
}
