#include "process/NativePath.h"

#include <QFile>
#include <QStringDecoder>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The characters that stand for bytes that are not UTF-8.
constexpr char16_t RawFirst = 0xdc80;
constexpr char16_t RawLast = 0xdcff;

bool isRaw(const QString &text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= RawFirst && c <= RawLast && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

void appendUtf8(QByteArray &out, char32_t code)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xc0 | (code >> 6));
        out += char(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += char(0xe0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3f));
        out += char(0x80 | (code & 0x3f));
    } else {
        out += char(0xf0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3f));
        out += char(0x80 | ((code >> 6) & 0x3f));
        out += char(0x80 | (code & 0x3f));
    }
}

bool statOf(const QString &path, struct stat &status)
{
    return ::stat(NativePath::encode(path).constData(), &status) == 0;
}

} // namespace

namespace NativePath {

QString decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            out += QChar(lead);
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0, least = 0;
        if ((lead & 0xe0) == 0xc0) {
            length = 2, code = lead & 0x1f, least = 0x80;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3, code = lead & 0x0f, least = 0x800;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4, code = lead & 0x07, least = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (int k = 1; valid && k < length; ++k) {
            valid = (p[i + k] & 0xc0) == 0x80;
            code = (code << 6) | (p[i + k] & 0x3f);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8 either.
        if (valid && code >= least && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff)) {
            out += QString::fromUcs4(&code, 1);
            i += length;
        } else {
            out += QChar(char16_t(0xdc00 + lead));
            ++i;
        }
    }
    return out;
}

QByteArray encode(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        if (isRaw(path, i)) {
            out += char(c.unicode() - 0xdc00);
        } else if (c.isHighSurrogate() && i + 1 < path.size() && path.at(i + 1).isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(c, path.at(i + 1)));
            ++i;
        } else if (c.isSurrogate()) {
            appendUtf8(out, QChar::ReplacementCharacter);
        } else {
            appendUtf8(out, c.unicode());
        }
    }
    return out;
}

bool hasRawBytes(const QString &path)
{
    for (qsizetype i = 0; i < path.size(); ++i)
        if (isRaw(path, i))
            return true;
    return false;
}

QString readable(const QString &path)
{
    if (!hasRawBytes(path))
        return path;
    QStringList parts;
    for (const QByteArray &part : encode(path).split('/')) {
        const QString exact = decode(part);
        if (!hasRawBytes(exact)) {
            parts.append(exact);
            continue;
        }
        QStringDecoder gb18030("GB18030");
        const QString chinese = gb18030.isValid() ? gb18030.decode(part) : QString();
        parts.append(gb18030.isValid() && !gb18030.hasError() ? chinese : QString::fromUtf8(part));
    }
    return parts.join(QLatin1Char('/'));
}

bool exists(const QString &path)
{
    struct stat status = {};
    return ::lstat(encode(path).constData(), &status) == 0;
}

bool isFolder(const QString &path)
{
    struct stat status = {};
    return statOf(path, status) && S_ISDIR(status.st_mode);
}

bool isFile(const QString &path)
{
    struct stat status = {};
    return statOf(path, status) && S_ISREG(status.st_mode);
}

qint64 size(const QString &path)
{
    struct stat status = {};
    return statOf(path, status) ? qint64(status.st_size) : -1;
}

QString recover(const QString &listed)
{
    if (!listed.contains(QChar::ReplacementCharacter) || !listed.startsWith(QLatin1Char('/')))
        return listed;
    QByteArray found;
    for (const QString &part : listed.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!part.contains(QChar::ReplacementCharacter)) {
            found += '/' + encode(part);
            continue;
        }
        DIR *dir = ::opendir(found.isEmpty() ? "/" : found.constData());
        if (!dir)
            return listed;
        QByteArray match;
        int matches = 0;
        while (const dirent *entry = ::readdir(dir)) {
            if (QString::fromUtf8(entry->d_name) == part) {
                match = entry->d_name;
                ++matches;
            }
        }
        ::closedir(dir);
        if (matches != 1)
            return listed;
        found += '/' + match;
    }
    return decode(found);
}

Arguments::Arguments(const QString &program, const QStringList &arguments)
{
    m_bytes.push_back(encode(program));
    m_needed = hasRawBytes(program);
    for (const QString &argument : arguments) {
        m_bytes.push_back(encode(argument));
        m_needed = m_needed || hasRawBytes(argument);
    }
    for (QByteArray &bytes : m_bytes)
        m_argv.push_back(bytes.data());
    m_argv.push_back(nullptr);
}

void Arguments::exec() const
{
    ::execvp(m_argv[0], m_argv.data());
}

} // namespace NativePath
