#pragma once

#include "platform/Port.h"

#include <QString>

namespace platform {

// Profile (INI) files with the behaviour of the Windows profile functions: sections and
// keys are found without regard to letter case; a write replaces the key in place or
// appends it, creates the section and the file when missing, and leaves every other
// line as it was. UTF-16 files with a byte-order mark (data-link files) and 8-bit files
// are both read, and a write keeps the file's encoding.
class ProfileFile {
public:
    virtual ~ProfileFile() = default;

    // The key's value with blanks around it removed; `defaultValue` when the file, the
    // section or the key is missing. At most `maxChars` characters are returned.
    virtual QString readString(const QString& fileName, const QString& section, const QString& key,
                               const QString& defaultValue, int maxChars) = 0;
    // True when `fileName` names a file that can be read as a profile file; false for a
    // missing, unreadable or binary file.
    virtual bool isReadable(const QString& fileName) = 0;
    // False when the file cannot be written.
    virtual bool writeString(const QString& fileName, const QString& section, const QString& key,
                             const QString& value) = 0;

    static std::unique_ptr<ProfileFile> makeDefault();
};

inline ProfileFile& profileFile() {
    return Port<ProfileFile>::instance();
}

} // namespace platform
