#pragma once

// The registry kept in text files: one ".reg" file (the export format of the Windows
// registry editor, "Windows Registry Editor Version 5.00") per hive. docs/registry.md
// describes the locations, the format, the locking and what happens to a damaged file.

#include "platform/Registry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

namespace platform {

namespace regfile {

inline constexpr QStringView kHeader = u"Windows Registry Editor Version 5.00";

// One value line of a .reg text: a value to store, or ("name"=-) one to remove.
struct Entry {
    RegValue value;
    bool remove = false;
};

// One "[key]" block of a .reg text; "[-key]" removes the key with everything below it.
struct Section {
    QString keyName; // full name, the hive first: "HKEY_CURRENT_USER\SOFTWARE\Kelvo"
    bool remove = false;
    QList<Entry> entries;
    int line = 0; // where the block begins in the text it was read from
};

struct ParseResult {
    QList<Section> sections;
    int errorLine = 0; // 1-based; 0 when the text was read
    QString error;     // why the text cannot be read
    bool ok() const { return errorLine == 0; }
};

// Reads a .reg text: UTF-8 (with or without a byte-order mark) or UTF-16LE with its mark.
ParseResult parse(const QByteArray& bytes);
// Writes sections as UTF-8 .reg text (header first, one blank line after each block).
QByteArray format(const QList<Section>& sections);

// The changes a section asks of its hive, key paths below the hive.
QList<RegChange> changesOf(const Section& section);

// The hive named by the first part of a key name: the full names and HKCU/HKLM, any case.
std::optional<Hive> hiveFromName(QStringView name);

} // namespace regfile

// The Linux registry: HKEY_CURRENT_USER in $XDG_CONFIG_HOME/kelvo (default ~/.config/kelvo),
// HKEY_LOCAL_MACHINE in $KELVO_MACHINE_DIR (default /etc/kelvo), both looked up at every call.
// A parsed hive is kept while its file stays the same file (device, inode, size, mtime).
class RegFileRegistry final : public Registry {
public:
    RegFileRegistry();
    ~RegFileRegistry() override;

    std::optional<RegValue> value(Hive hive, const QString& keyPath, const QString& name) override;
    bool keyExists(Hive hive, const QString& keyPath) override;
    QStringList subKeys(Hive hive, const QString& keyPath) override;
    QList<RegValue> values(Hive hive, const QString& keyPath) override;

    RegResult createKey(Hive hive, const QString& keyPath, bool everyoneMayWrite = false) override;
    RegResult setValue(Hive hive, const QString& keyPath, const RegValue& value,
                       bool everyoneMayWrite = false) override;
    RegResult deleteValue(Hive hive, const QString& keyPath, const QString& name) override;
    RegResult deleteKey(Hive hive, const QString& keyPath) override;
    RegResult apply(Hive hive, const QList<RegChange>& changes, bool everyoneMayWrite = false) override;
    RegResult hiveStatus(Hive hive) override;

    // The file that holds the hive now.
    static QString hiveFile(Hive hive);
    // How often a hive file has been parsed by this object (the cache's witness).
    int parseCount() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform
