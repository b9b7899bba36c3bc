#pragma once

#include "platform/Port.h"

#include <QHash>
#include <QString>

#include <optional>

namespace platform {

// The version information a program file carries about itself: named strings such as
// "FileVersion" or "CompanyName", read from the file, so that any program file can be asked,
// running or not (docs/version-information.md).
class FileVersionReader {
public:
    virtual ~FileVersionReader() = default;

    // The file's version strings by name; std::nullopt when the file carries none, is no
    // regular file or cannot be read.
    virtual std::optional<QHash<QString, QString>> versionStrings(const QString& fileName) = 0;
    // The file of the running program; works before any QCoreApplication exists.
    virtual QString ownProgramFile() = 0;

    static std::unique_ptr<FileVersionReader> makeDefault();
};

inline FileVersionReader& fileVersionReader() {
    return Port<FileVersionReader>::instance();
}

} // namespace platform
