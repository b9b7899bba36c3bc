#include "sound/FileStorage.h"

#include <QIODevice>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <optional>

namespace {

// A name longer than this is no file name: the record is damaged.
constexpr qint64 MaxNameSize = 64 * 1024;
// Reads go in pieces of this size, so that a length field that lies about a stream
// without a known end costs no more memory than the bytes really there.
constexpr qint64 ReadChunk = 64 * 1024;

// Exactly `length` bytes, or nothing when the stream ends first.
std::optional<QByteArray> readExactly(QIODevice& stream, qint64 length) {
    if (!stream.isSequential() && length > stream.bytesAvailable())
        return std::nullopt;
    QByteArray bytes;
    while (bytes.size() < length) {
        const QByteArray piece = stream.read(std::min(ReadChunk, length - bytes.size()));
        if (piece.isEmpty())
            return std::nullopt;
        bytes += piece;
    }
    return bytes;
}

std::optional<quint32> readLength(QIODevice& stream) {
    const std::optional<QByteArray> bytes = readExactly(stream, 4);
    if (!bytes)
        return std::nullopt;
    return qFromLittleEndian<quint32>(bytes->constData());
}

bool writeLength(QIODevice& stream, quint32 length) {
    char bytes[4];
    qToLittleEndian(length, bytes);
    return stream.write(bytes, 4) == 4;
}

// The bytes of one complete zlib stream that fills `body` exactly; nothing when the body
// is damaged, cut short, followed by other bytes, or inflates beyond `limit`.
std::optional<QByteArray> inflateBody(const QByteArray& body, qint64 limit) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    stream.avail_in = uInt(body.size());

    QByteArray data;
    int status = Z_OK;
    while (status == Z_OK) {
        const qint64 room = std::min<qint64>(ReadChunk, limit - data.size() + 1);
        const qsizetype filled = data.size();
        data.resize(filled + room);
        stream.next_out = reinterpret_cast<Bytef*>(data.data() + filled);
        stream.avail_out = uInt(room);
        status = inflate(&stream, Z_NO_FLUSH);
        data.resize(filled + room - stream.avail_out);
        if (data.size() > limit)
            status = Z_MEM_ERROR;
    }
    const bool complete = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!complete)
        return std::nullopt;
    return data;
}

} // namespace

bool TStoredFile::ReadData(QIODevice& stream) {
    ClearData();
    const std::optional<quint32> nameLength = readLength(stream);
    if (!nameLength || *nameLength > MaxNameSize)
        return false;
    const std::optional<QByteArray> name = readExactly(stream, *nameLength);
    if (!name)
        return false;
    const std::optional<quint32> bodyLength = readLength(stream);
    if (!bodyLength || *bodyLength > compressBound(uLong(MaxDataSize)))
        return false;
    const std::optional<QByteArray> body = readExactly(stream, *bodyLength);
    if (!body)
        return false;
    if (body->isEmpty()) {
        m_fileName = *name;
        return true;
    }
    const std::optional<QByteArray> data = inflateBody(*body, MaxDataSize);
    if (!data)
        return false;
    m_fileName = *name;
    m_data = *data;
    return true;
}

bool TStoredFile::WriteData(QIODevice& stream) const {
    if (m_data.size() > MaxDataSize || m_fileName.size() > MaxNameSize)
        return false;
    uLongf compressedLength = compressBound(uLong(m_data.size()));
    QByteArray body(qsizetype(compressedLength), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(body.data()), &compressedLength,
                  reinterpret_cast<const Bytef*>(m_data.constData()), uLong(m_data.size()), 9) != Z_OK)
        return false;
    body.truncate(qsizetype(compressedLength));
    return writeLength(stream, quint32(m_fileName.size())) && stream.write(m_fileName) == m_fileName.size() &&
           writeLength(stream, quint32(body.size())) && stream.write(body) == body.size();
}

void TStoredFile::ClearData() {
    m_fileName.clear();
    m_data.clear();
}
