#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <cstdint>

// Tool output handed to a progress parser the way the runner hands it over. An input is one
// byte choosing the size of each read from the pipe, one byte the spinner's first character,
// then the bytes the tool printed.
struct ToolOutput
{
    qsizetype readSize = 1;
    QChar spinner;
    QByteArrayView bytes;

    static ToolOutput from(const uint8_t *data, size_t size)
    {
        ToolOutput output;
        if (size < 2)
            return output;
        output.readSize = 1 + qsizetype(data[0]) * 8;
        output.spinner = QLatin1Char(char(data[1]));
        output.bytes = QByteArrayView(data + 2, qsizetype(size - 2));
        return output;
    }

    // Each delivery takes at most 1024 bytes, ending at the last line break inside them; a
    // line that has begun waits for its end when a line break came before it in the same
    // delivery. The bytes are decoded with one decoder for the whole run.
    template <typename Handler> void feed(Handler handle) const
    {
        constexpr qsizetype ChunkBytes = 1024;
        QStringDecoder decoder(QStringDecoder::Utf8);
        QByteArray pending;
        qsizetype read = 0;
        while (read < bytes.size()) {
            const qsizetype n = qMin(readSize, bytes.size() - read);
            pending += bytes.sliced(read, n);
            read += n;
            const bool ended = read == bytes.size();
            qsizetype offset = 0;
            bool lineEnded = false;
            while (offset < pending.size()) {
                const qsizetype window = qMin(pending.size() - offset, ChunkBytes);
                qsizetype size = lastLineEnd(pending, offset, window);
                if (size > 0) {
                    lineEnded = true;
                } else {
                    if (window < ChunkBytes && lineEnded && !ended)
                        break;
                    size = window;
                }
                const QString chunk = decoder.decode(QByteArrayView(pending).sliced(offset, size));
                offset += size;
                if (!chunk.isEmpty())
                    handle(chunk);
            }
            pending.remove(0, offset);
        }
    }

private:
    static qsizetype lastLineEnd(const QByteArray &pending, qsizetype offset, qsizetype window)
    {
        for (qsizetype i = offset + window - 1; i >= offset; --i)
            if (pending.at(i) == '\n' || pending.at(i) == '\r')
                return i - offset + 1;
        return 0;
    }
};
