#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringDecoder>
#include <optional>

// Cuts a tool's output, as it arrives from the pipe, into the chunks the progress readers get:
// at most ChunkBytes bytes each, ending at the last line break ('\n' or '\r') inside them when
// there is one, so that no "Duration: " or "(45%)" field is cut in two. A line that has begun
// waits for its end when a line break came before it in the same delivery; output without any
// line break goes out at once. The bytes are decoded as UTF-8 by one decoder for the whole run,
// so a character split between two reads comes out whole.
class OutputChunker
{
public:
    static constexpr qsizetype ChunkBytes = 1024;

    OutputChunker() : m_decoder(QStringDecoder::Utf8) {}

    void append(QByteArrayView bytes) { m_pending += bytes; }
    // Takes what the device has to read, straight into the chunker's own buffer: a tool that
    // floods its output is read with one copy less than through readAll() and append().
    void readFrom(QIODevice &device);
    // The next chunk of the current delivery, nothing when what is left must wait for more.
    // `ended`: the tool has ended, nothing more will come, so nothing waits.
    std::optional<QString> next(bool ended);
    // Ends a delivery: what was handed out is dropped, the rest waits for the next one.
    void endDelivery();
    // Forgets everything, for a new run.
    void reset();

private:
    QStringDecoder m_decoder;
    QByteArray m_pending;
    qsizetype m_offset = 0;   // what this delivery has handed out
    bool m_lineEnded = false; // a chunk of this delivery ended at a line break
};
