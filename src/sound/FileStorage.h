#pragma once

// A file kept inside a component's stored description: its name and its bytes.
//
// Stored record (all lengths 32-bit little-endian):
//   N     length of the name in bytes
//   name  N bytes of 8-bit text, no terminator
//   M     length of the body in bytes
//   body  M bytes: the data as one zlib stream, compressed at level 9
// An M of 0 stands for no data.

#include <QByteArray>

class QIODevice;

class TStoredFile {
public:
    // Largest amount of data a record may inflate to; a larger body is refused rather
    // than allowed to exhaust memory.
    static constexpr qint64 MaxDataSize = 64 * 1024 * 1024;

    // The name the data came from, without path, in 8-bit text.
    const QByteArray& FileName() const { return m_fileName; }
    void setFileName(const QByteArray& fileName) { m_fileName = fileName; }
    // Bytes of data.
    quint32 Size() const { return quint32(m_data.size()); }
    // The uncompressed bytes.
    const QByteArray& Data() const { return m_data; }
    void setData(const QByteArray& data) { m_data = data; }

    // Reads one record from the stream's current position. A record that is cut short,
    // whose lengths go beyond the stream, or whose body is not a whole zlib stream (or
    // inflates beyond MaxDataSize) reads as an empty file and gives false; nothing
    // beyond the end of the stream is ever read.
    bool ReadData(QIODevice& stream);
    // Writes the record at the stream's current position; false when the stream refused
    // the bytes or the data was too large to compress.
    bool WriteData(QIODevice& stream) const;
    // No name, size 0, no data.
    void ClearData();

private:
    QByteArray m_fileName;
    QByteArray m_data;
};
