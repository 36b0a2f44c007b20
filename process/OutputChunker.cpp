#include "process/OutputChunker.h"

namespace {

// One past the last line break among the `length` bytes at `from`; 0 when there is none.
qsizetype lineEnd(const QByteArray &bytes, qsizetype from, qsizetype length)
{
    for (qsizetype i = length; i > 0; --i) {
        const char c = bytes.at(from + i - 1);
        if (c == '\n' || c == '\r')
            return i;
    }
    return 0;
}

} // namespace

std::optional<QString> OutputChunker::next(bool ended)
{
    while (m_offset < m_pending.size()) {
        const qsizetype window = qMin(m_pending.size() - m_offset, ChunkBytes);
        qsizetype size = lineEnd(m_pending, m_offset, window);
        if (size > 0) {
            m_lineEnded = true;
        } else {
            if (window < ChunkBytes && m_lineEnded && !ended)
                return std::nullopt;
            size = window;
        }
        const QString chunk = m_decoder.decode(QByteArrayView(m_pending).sliced(m_offset, size));
        m_offset += size;
        // Bytes that only begin a character show up with the next chunk.
        if (!chunk.isEmpty())
            return chunk;
    }
    return std::nullopt;
}

void OutputChunker::readFrom(QIODevice &device)
{
    const qint64 available = device.bytesAvailable();
    if (available <= 0)
        return;
    const qsizetype held = m_pending.size();
    m_pending.resize(held + available);
    const qint64 read = device.read(m_pending.data() + held, available);
    m_pending.resize(held + qMax<qint64>(0, read));
}

void OutputChunker::endDelivery()
{
    m_pending.remove(0, m_offset);
    m_offset = 0;
    m_lineEnded = false;
}

void OutputChunker::reset()
{
    m_decoder = QStringDecoder(QStringDecoder::Utf8);
    m_pending.clear();
    m_offset = 0;
    m_lineEnded = false;
}
