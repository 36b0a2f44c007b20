#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// File names as the system keeps them: bytes, mostly UTF-8 but not always (unzipping an archive
// made on Chinese Windows leaves GBK names). Qt decodes such bytes into replacement marks and
// cannot find the file again; these functions keep every byte instead. A byte that is not part
// of valid UTF-8 becomes one of the characters U+DC80..U+DCFF, which no valid name holds, and
// goes back to exactly that byte. Every path that comes from the system (the command line, a
// folder listing, a drop) is decoded here, and every path handed to the system or to a tool is
// encoded here.
namespace NativePath {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &path);
// Whether the path holds bytes that are not UTF-8.
bool hasRawBytes(const QString &path);

// The path for people to read: each part of it as UTF-8, or else decoded as GB18030 where its
// bytes are valid GB18030, or else with replacement marks. Always valid Unicode.
QString readable(const QString &path);

// What exists at the path, asked with its exact bytes.
bool exists(const QString &path);
bool isFolder(const QString &path);
bool isFile(const QString &path);
qint64 size(const QString &path); // -1 when it cannot be read

// A path Qt listed itself (a file dialog's answer), where bytes that are not UTF-8 came out as
// replacement marks: the name on disk it stands for, when exactly one name of its folder reads
// that way; else the path as it is.
QString recover(const QString &listed);

// A program and its arguments as the bytes a child process must get. Built before the child
// starts; exec() is then safe to call in the child between fork and exec.
class Arguments
{
public:
    Arguments(const QString &program, const QStringList &arguments);
    // Whether Qt's own start would lose bytes of the arguments.
    bool needed() const { return m_needed; }
    // Replaces the child with the program, the arguments byte for byte; returns only when that
    // fails.
    void exec() const;

private:
    std::vector<QByteArray> m_bytes;
    std::vector<char *> m_argv;
    bool m_needed = false;
};

} // namespace NativePath
