#pragma once

#include "platform/ProfileFile.h"

#include <QByteArray>

#include <optional>

namespace platform {

// Profile files read and written the way the Windows profile functions do it.
//
// Encodings: a byte-order mark selects UTF-16 LE, UTF-16 BE or UTF-8; a file without one is
// UTF-8 when its bytes are valid UTF-8 and Windows-1252 otherwise (files written on Windows).
// A write keeps the file's encoding, byte-order mark and the line end of every line it does
// not change; a new file is UTF-8 without a byte-order mark and ends its lines with "\n".
//
// Only a regular file of at most 16 MiB that decodes cleanly and holds no control
// characters (other than tab, line and page breaks and 0x1A) counts as a profile file.
// Anything else reads as missing and is never rewritten, so that a wrong file name cannot
// destroy someone's data.
class IniProfileFile : public ProfileFile {
public:
    QString readString(const QString& fileName, const QString& section, const QString& key,
                       const QString& defaultValue, int maxChars) override;
    bool isReadable(const QString& fileName) override;
    // Also false when a name or the value holds a line break, or the key holds "=" or
    // begins with "[" or ";": such a text would read back as other lines than were written;
    // and when one holds another control character or half a surrogate pair, which would
    // make the file read as no profile file. Also false for a Windows-1252 file that would
    // read as UTF-8 after the write, changing how its other values read.
    bool writeString(const QString& fileName, const QString& section, const QString& key,
                     const QString& value) override;
};

// The same on the bytes of a file held in memory; the class above reads and writes the file
// through these, after refusing a file that is not a regular one of at most 16 MiB.
namespace profiletext {

// True when the bytes decode as profile text.
bool isProfile(const QByteArray& bytes);
QString readString(const QByteArray& bytes, const QString& section, const QString& key,
                   const QString& defaultValue, int maxChars);
// The file's new bytes; `bytes` is nothing for a missing file. Nothing when the write is
// refused (see IniProfileFile::writeString) or the bytes are not profile text.
std::optional<QByteArray> writeString(const std::optional<QByteArray>& bytes, const QString& section,
                                      const QString& key, const QString& value);

} // namespace profiletext

} // namespace platform
