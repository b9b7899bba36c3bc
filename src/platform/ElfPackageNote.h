#pragma once

// Version information in an ELF file: the package-metadata note of the freedesktop
// convention (section ".note.package", owner "FDO", type 0xcafe1a7e, a JSON object as its
// payload). Our programs carry one, written at build time; its "versionInfo" object holds the
// version strings (docs/version-information.md).

#include "platform/FileVersion.h"

#include <QByteArray>

class QIODevice;

namespace platform {

inline constexpr quint32 kPackageNoteType = 0xcafe1a7e;

// The JSON payload of the first package-metadata note of an ELF file (32 or 64 bits, either
// byte order), found through the note segments, else through the note sections; trailing NUL
// bytes are dropped. std::nullopt for anything else. Every offset and size read from the file
// is checked against the file, so a damaged or hostile file gives std::nullopt, never a crash.
std::optional<QByteArray> readPackageNote(QIODevice& file);

// The "versionInfo" object of a package-metadata payload: its string members by name.
// std::nullopt when the payload is no JSON object or has no such object.
std::optional<QHash<QString, QString>> versionStringsOfPackageNote(const QByteArray& payload);

class ElfFileVersionReader : public FileVersionReader {
public:
    std::optional<QHash<QString, QString>> versionStrings(const QString& fileName) override;
    QString ownProgramFile() override;
};

} // namespace platform
