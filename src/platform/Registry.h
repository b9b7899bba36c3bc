#pragma once

#include "platform/Port.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

enum class Hive { CurrentUser, LocalMachine };

enum class RegType { String, DWord };

struct RegValue {
    QString name; // empty: the key's default value
    RegType type = RegType::String;
    QString text;      // REG_SZ data
    quint32 dword = 0; // REG_DWORD data
};

// Outcome of a change; `error` is the system's own text for the failure (for example
// strerror's "Permission denied" for a refused write).
struct RegResult {
    bool ok = true;
    QString error;
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

    static std::unique_ptr<Registry> makeDefault();
};

// The hive's full name, "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
QString hiveName(Hive hive);

inline Registry& registry() {
    return Port<Registry>::instance();
}

} // namespace platform
