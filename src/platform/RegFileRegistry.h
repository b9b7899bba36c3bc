#pragma once

// The registry kept in text files: one ".reg" file (the export format of the Windows
// registry editor, "Windows Registry Editor Version 5.00") per hive, and one more for the
// machine-wide keys open to every user. docs/registry.md describes the locations, the format,
// the locking and what happens to a damaged file.

#include "platform/Registry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace platform {

namespace regfile {

inline constexpr QStringView kHeader = u"Windows Registry Editor Version 5.00";
// The largest .reg text read or written (bytes); a hive never grows beyond it.
inline constexpr qsizetype kMaxTextSize = 64 * 1024 * 1024;
// The registry's own limits: a key name's length and the depth of a key path.
inline constexpr qsizetype kMaxKeyNameLength = 255;
inline constexpr qsizetype kMaxKeyDepth = 512;

// One value line of a .reg text: a value to store, or ("name"=-) one to remove.
struct Entry {
    RegValue value;
    bool remove = false;
};

// One "[key]" block of a .reg text; "[-key]" removes the key with everything below it.
struct Section {
    QString keyName; // full name, the hive first: "HKEY_CURRENT_USER\SOFTWARE\Kelvo"
    bool remove = false;
    // The machine hive marks a key open to every user with a comment line of its own.
    bool openToEveryone = false;
    QList<Entry> entries;
    int line = 0; // where the block begins in the text it was read from
};

struct ParseResult {
    QList<Section> sections;
    int errorLine = 0; // 1-based; 0 when the text was read
    QString error;     // why the text cannot be read
    bool ok() const { return errorLine == 0; }
};

// How a .reg text is written: a hive file (UTF-8, LF), or an export as the registry editor
// writes one (UTF-16LE after a byte-order mark, CR LF).
enum class TextForm { Hive, Export };

// Reads a .reg text: UTF-8 (with or without a byte-order mark) or UTF-16LE with its mark.
ParseResult parse(const QByteArray& bytes);
// Writes sections as .reg text (header first, one blank line after each block).
QByteArray format(const QList<Section>& sections, TextForm form = TextForm::Hive);

// The changes a section asks of its hive, key paths below the hive.
QList<RegChange> changesOf(const Section& section);

// The hive named by the first part of a key name: the full names and HKCU/HKLM, any case.
std::optional<Hive> hiveFromName(QStringView name);

// Whether a text can stand on one line between quotes: no control character and no lone
// half of a surrogate pair (UTF-8 cannot carry one). Names must; a value that cannot is
// written in hex.
bool fitsOnLine(QStringView text);

} // namespace regfile

// The Linux registry: HKEY_CURRENT_USER in $XDG_CONFIG_HOME/kelvo (default ~/.config/kelvo),
// HKEY_LOCAL_MACHINE in $KELVO_MACHINE_DIR (default /etc/kelvo) and, for its keys open to
// every user, in a folder of their own ($KELVO_OPEN_KEYS_DIR); all looked up at every call.
// A parsed hive is kept while its file stays the same file (device, inode, size, mtime).
class RegFileRegistry final : public Registry {
public:
    // How long a change waits for another process's lock on a hive before it fails.
    static constexpr std::chrono::milliseconds kLockTimeout{10000};

    explicit RegFileRegistry(std::chrono::milliseconds lockTimeout = kLockTimeout);
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
    std::optional<DamagedHive> keepDamagedHiveAside(Hive hive) override;

    // The file that holds the hive now.
    static QString hiveFile(Hive hive);
    // The file that holds the machine hive's keys open to every user.
    static QString openKeysFile();
    // How often a hive file has been parsed by this object (the cache's witness).
    int parseCount() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform
