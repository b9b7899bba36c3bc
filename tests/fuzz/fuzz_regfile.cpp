// Registry hive files: the text of a ".reg" file (a regedit export, or a hive as the
// registry stores it), read by the parser and by the registry itself.

#include "FuzzSupport.h"

#include "platform/RegFileRegistry.h"

#include <QDir>
#include <QFile>

using platform::Hive;
using platform::RegFileRegistry;
namespace regfile = platform::regfile;

namespace {

void collect(RegFileRegistry& registry, const QString& keyPath, qsizetype depth,
             QList<regfile::Section>& out) {
    regfile::Section section;
    section.keyName =
        platform::hiveName(Hive::CurrentUser) + (keyPath.isEmpty() ? QString() : QLatin1Char('\\') + keyPath);
    for (const platform::RegValue& value : registry.values(Hive::CurrentUser, keyPath))
        section.entries.append({value, false});
    out.append(section);
    if (depth == regfile::kMaxKeyDepth)
        return;
    for (const QString& child : registry.subKeys(Hive::CurrentUser, keyPath))
        collect(registry, keyPath.isEmpty() ? child : keyPath + QLatin1Char('\\') + child, depth + 1, out);
}

// Everything the registry holds in the hive, as .reg text.
QByteArray contents(RegFileRegistry& registry) {
    QList<regfile::Section> sections;
    collect(registry, QString(), 0, sections);
    return regfile::format(sections);
}

void removeHiveFiles(const QString& hiveFile) {
    const QFileInfo info(hiveFile);
    QDir folder = info.dir();
    for (const QString& name :
         folder.entryList({info.fileName() + QLatin1Char('*')}, QDir::Files | QDir::Hidden))
        folder.remove(name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    fuzz::isolateInstallation();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);

    // What the parser reads, it writes so that it reads the same again.
    const regfile::ParseResult parsed = regfile::parse(bytes);
    fuzz::require(parsed.ok() == parsed.error.isEmpty(), "a failed parse says why, a good one does not");
    if (parsed.ok()) {
        const QByteArray written = regfile::format(parsed.sections);
        const regfile::ParseResult again = regfile::parse(written);
        fuzz::require(again.ok(), "formatted sections parse");
        fuzz::require(regfile::format(again.sections) == written, "formatting what was parsed is stable");
        // An export, as the registry editor writes it (UTF-16LE, CR LF), reads as the same.
        const regfile::ParseResult exported =
            regfile::parse(regfile::format(parsed.sections, regfile::TextForm::Export));
        fuzz::require(exported.ok(), "an export parses");
        fuzz::require(regfile::format(exported.sections) == written, "an export reads as the hive text");
        // What an import of the file would change.
        for (const regfile::Section& section : parsed.sections) {
            fuzz::require(regfile::hiveFromName(section.keyName.section(QLatin1Char('\\'), 0, 0)).has_value(),
                          "a parsed key lies in a hive");
            for (const platform::RegChange& change : regfile::changesOf(section))
                fuzz::require(change.keyPath.count(QLatin1Char('\\')) < regfile::kMaxKeyDepth,
                              "a change lies within the registry's depth");
        }
    }

    // The same text as the user's hive: read, changed and stored by the registry.
    const QString hiveFile = RegFileRegistry::hiveFile(Hive::CurrentUser);
    QDir().mkpath(QFileInfo(hiveFile).absolutePath());
    removeHiveFiles(hiveFile);
    {
        QFile file(hiveFile);
        fuzz::require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "hive written");
    }
    RegFileRegistry registry;
    const bool readable = registry.hiveStatus(Hive::CurrentUser).ok;
    fuzz::require(readable || !parsed.ok() || !parsed.sections.isEmpty(),
                  "a parsed text without keys is a readable hive");
    const platform::RegValue value =
        platform::RegValue::ofText(QStringLiteral("Fuzz"), QStringLiteral("stored"));
    const bool stored = registry.setValue(Hive::CurrentUser, QStringLiteral("SOFTWARE\\Kelvo"), value).ok;
    fuzz::require(stored == readable, "a readable hive takes a change; a damaged one is set aside");
    if (stored) {
        // The stored file holds exactly what the registry held after the change.
        RegFileRegistry reader;
        fuzz::require(reader.hiveStatus(Hive::CurrentUser).ok, "a stored hive is readable");
        fuzz::require(contents(reader) == contents(registry), "a stored hive reads back as it was");
    }
    removeHiveFiles(hiveFile);
    return 0;
}
