#pragma once

#include "process/OutputChunker.h"

#include <QByteArrayView>
#include <QString>
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

    // Each read from the pipe is one delivery of the runner's own chunker.
    template <typename Handler> void feed(Handler handle) const
    {
        OutputChunker chunker;
        qsizetype read = 0;
        while (read < bytes.size()) {
            const qsizetype n = qMin(readSize, bytes.size() - read);
            chunker.append(bytes.sliced(read, n));
            read += n;
            while (const std::optional<QString> chunk = chunker.next(read == bytes.size()))
                handle(*chunk);
            chunker.endDelivery();
        }
    }
};
