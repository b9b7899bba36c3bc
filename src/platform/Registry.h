#pragma once

#include "platform/Port.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

enum class Hive { CurrentUser, LocalMachine };

// A value's type: the registry's own type numbers. Any other number is a type as well; the
// registry keeps its data as it is.
enum class RegType : quint32 {
    None = 0,                      // REG_NONE
    String = 1,                    // REG_SZ
    ExpandString = 2,              // REG_EXPAND_SZ
    Binary = 3,                    // REG_BINARY
    DWord = 4,                     // REG_DWORD
    DWordBigEndian = 5,            // REG_DWORD_BIG_ENDIAN
    Link = 6,                      // REG_LINK
    MultiString = 7,               // REG_MULTI_SZ
    ResourceList = 8,              // REG_RESOURCE_LIST
    FullResourceDescriptor = 9,    // REG_FULL_RESOURCE_DESCRIPTOR
    ResourceRequirementsList = 10, // REG_RESOURCE_REQUIREMENTS_LIST
    QWord = 11,                    // REG_QWORD
};

// A value with its data as the registry holds it: a text in UTF-16LE followed by a NUL, a
// list of texts with a NUL after each and one more at the end, a number in little-endian
// bytes. Data that does not follow its type's form is kept as it is all the same.
struct RegValue {
    QString name; // empty: the key's default value
    RegType type = RegType::String;
    QByteArray data;

    static RegValue ofText(const QString& name, const QString& text, RegType type = RegType::String);
    static RegValue ofTexts(const QString& name, const QStringList& texts);
    static RegValue ofDWord(const QString& name, quint32 number);
    static RegValue ofQWord(const QString& name, quint64 number);
    static RegValue ofBytes(const QString& name, RegType type, const QByteArray& data);

    // The data read as UTF-16LE, without one terminating NUL; an odd last byte counts as a
    // character of its own.
    QString text() const;
    // The number of a four-byte REG_DWORD; 0 for anything else.
    quint32 dword() const;

    bool operator==(const RegValue&) const = default;
};

// Outcome of a change; `error` is the system's own text for the failure (for example
// strerror's "Permission denied" for a refused write).
struct RegResult {
    bool ok = true;
    QString error;
};

// What became of a hive whose storage was damaged.
struct DamagedHive {
    QString damage; // the file, the line and the reason
    QString keptAs; // where the damaged file lies now; empty when it could not be moved
    QString error;  // why it could not be moved
};

// One change of a batch given to Registry::apply. For DeleteValue only `value.name` counts.
struct RegChange {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    QString keyPath;
    RegValue value;
};

// The registry: two hives of keys and values. Key paths use "\" between their parts;
// key and value names are compared without regard to letter case, values are kept exactly.
class Registry {
public:
    virtual ~Registry() = default;

    virtual std::optional<RegValue> value(Hive hive, const QString& keyPath, const QString& name) = 0;
    virtual bool keyExists(Hive hive, const QString& keyPath) = 0;
    virtual QStringList subKeys(Hive hive, const QString& keyPath) = 0;
    virtual QList<RegValue> values(Hive hive, const QString& keyPath) = 0;

    // Creates the key and its missing parents. `everyoneMayWrite` asks that a newly created
    // key stays writable by every user of the computer.
    virtual RegResult createKey(Hive hive, const QString& keyPath, bool everyoneMayWrite = false) = 0;
    // Stores a value, creating the key when it is missing.
    virtual RegResult setValue(Hive hive, const QString& keyPath, const RegValue& value,
                               bool everyoneMayWrite = false) = 0;
    virtual RegResult deleteValue(Hive hive, const QString& keyPath, const QString& name) = 0;
    // Deletes the key with all its subkeys and values.
    virtual RegResult deleteKey(Hive hive, const QString& keyPath) = 0;

    // Makes several changes to one hive, in order. An implementation that can do so stores
    // them all or none; deleting what is missing is no error here. `everyoneMayWrite`
    // applies to the keys the batch creates.
    virtual RegResult apply(Hive hive, const QList<RegChange>& changes, bool everyoneMayWrite = false);
    // Whether the hive can be read: ok=false, naming the file and the line, when its
    // storage is damaged (reads of a damaged hive find nothing).
    virtual RegResult hiveStatus(Hive hive);
    // When the hive's storage is damaged, moves it out of the way under a name of its own,
    // so that the hive starts again empty, and says where it went. Nothing when it is sound.
    virtual std::optional<DamagedHive> keepDamagedHiveAside(Hive hive);

    static std::unique_ptr<Registry> makeDefault();
};

// The hive's full name, "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
QString hiveName(Hive hive);

inline Registry& registry() {
    return Port<Registry>::instance();
}

} // namespace platform
