#include "tools/KelvoLogin.h"

#include "tools/KelvoCipher.h"
#include "tools/KelvoComponents.h"
#include "tools/KelvoDatabase.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoSettings.h"
#include "tools/Udataproviders.h"

#include <QFileInfo>

#include <exception>
#include <stdexcept>

namespace {

const QString kTerminator = QStringLiteral(";");
const QString kSspiMarker = QStringLiteral("INTEGRATED SECURITY=SSPI");

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool usesSystemLogin(const QString& connectionString) {
    return connectionString.toUpper().contains(kSspiMarker);
}

// Step 1: when the string names no provider yet, find a data-link file (asking the user
// when there is no single obvious one) and read the string from it.
void readDataLinkFile() {
    TApplicationEnvironment& env = Environment();
    if (env.ConnectionString.toUpper().contains(QStringLiteral("PROVIDER=")))
        return;
    if (!fileExists(env.DataProviderFile) && fileExists(env.DataLinksPath + env.DataProviderFile))
        env.DataProviderFile = env.DataLinksPath + env.DataProviderFile;
    if (!fileExists(env.DataProviderFile)) {
        const QStringList found = FindFiles(env.DataLinksPath, QStringLiteral("*.udl"));
        if (found.size() == 1) {
            env.DataProviderFile = found.first();
            WriteSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"),
                         env.DataProviderFile);
        }
    }
    if (!fileExists(env.DataProviderFile)) {
        InformationMessage(
            QStringLiteral("Kunde inte hitta den angivna DataProvider-filen \"") + env.DataProviderFile +
            QStringLiteral("\"!\r") +
            QStringLiteral("Kontrollera att filen finns i den aktuella katalogen och försök igen!") +
            QStringLiteral("\r\r") + QStringLiteral("Välj databasanslutning i nästa dialog"));
        env.DataProviderFile = env.DataLinksPath + ChooseDataProvider(QStringLiteral("DefaultDataProvider"));
    }
    env.ConnectionString =
        QStringLiteral("Provider=") +
        ReadIniString(env.DataProviderFile, QStringLiteral("oledb"), QStringLiteral("Provider"));
}

// Opens `connection` with the operating-system login, or else with the fallback login.
void connectForLogin(TADOConnection& connection, const QString& provider, const TDBConnection& record,
                     const QString& fallbackUser, const QString& fallbackPassword) {
    const QString target = QStringLiteral(";Initial Catalog=") + record.Databasename +
                           QStringLiteral(";Data Source=") + record.ServerName;
    try {
        connection.SetConnectionString(
            QStringLiteral("Provider=") + provider +
            QStringLiteral(";Integrated Security=SSPI;Persist Security Info=False") + target);
        connection.Open();
    } catch (const std::exception&) {
        connection.Close();
        connection.SetConnectionString(
            QStringLiteral("Provider=") + provider + QStringLiteral(";Password=") + fallbackPassword +
            QStringLiteral(";Persist Security Info=True;User ID=") + fallbackUser + target);
        connection.Open();
    }
}

QString decryptStored(const TKelvoCipher& cipher, const QString& stored) {
    const std::optional<QString> clear = cipher.DecryptString(stored);
    if (!clear)
        throw std::runtime_error("undecodable login text in KELVOUSER");
    return *clear;
}

// Step 3: the practice's SQL login as the host program stored it, encrypted, in KELVOUSER.
// Throws when there is no connection, no table, no row or no decodable text.
void fetchStoredLogin(TDBConnection& record, const QString& fallbackUser, const QString& fallbackPassword) {
    // Private, and never asks the user for a login: it only ever tries the two below.
    TADOConnection connection;
    const QString provider =
        GetConnectionParam(Environment().ConnectionString, QStringLiteral("Provider="), kTerminator);
    connectForLogin(connection, provider, record, fallbackUser, fallbackPassword);

    // A failure on the way leaves the rest to the destructors: the connection's Close
    // undoes the transaction.
    connection.BeginTrans();
    QString storedName;
    QString storedPassword;
    {
        TKelvoAdoQuery query;
        query.SetConnection(&connection);
        query.SetLockType(TADOLockType::ltReadOnly);
        query.SetSQL({QStringLiteral("SELECT * FROM KELVOUSER")});
        query.Open();
        storedName = query.FieldByName(QStringLiteral("KELVOUSERNAME")).AsString();
        storedPassword = query.FieldByName(QStringLiteral("KELVOPASSWORD")).AsString();
        query.Close();
    }
    if (connection.InTransaction())
        connection.RollbackTrans();
    connection.Close();

    const TKelvoCipher cipher;
    record.Username = decryptStored(cipher, storedName);
    record.Password = decryptStored(cipher, storedPassword);
}

} // namespace

TDBConnection& DBConnection() {
    static TDBConnection record;
    return record;
}

QString BuiltInLoginName() {
    return QStringLiteral("ravlek");
}

QString BuiltInLoginPassword() {
    return QStringLiteral("xray");
}

QString GetConnectionParam(const QString& text, const QString& key, const QString& terminator) {
    const qsizetype keyAt = text.indexOf(key);
    if (keyAt < 0)
        return {};
    const qsizetype valueAt = keyAt + key.size();
    const qsizetype end = text.indexOf(terminator, valueAt);
    return end < 0 ? text.mid(valueAt) : text.mid(valueAt, end - valueAt);
}

void SetConnectionParam(const QString& key, const QString& value) {
    QString& text = Environment().ConnectionString;
    const qsizetype keyAt = text.indexOf(key);
    if (keyAt < 0) {
        if (!value.isEmpty())
            text += kTerminator + key + value;
        return;
    }
    const qsizetype end = text.indexOf(kTerminator, keyAt + key.size());
    text.replace(keyAt, (end < 0 ? text.size() : end) - keyAt, key + value);
}

bool BuildConnectionString(const QString& fallbackUser, const QString& fallbackPassword) {
    TApplicationEnvironment& env = Environment();
    TDBConnection& record = DBConnection();
    try {
        readDataLinkFile();

        record.Databasename =
            GetConnectionParam(env.ConnectionString, QStringLiteral("Initial Catalog="), kTerminator);
        record.ServerName =
            GetConnectionParam(env.ConnectionString, QStringLiteral("Data Source="), kTerminator);
        record.Username = GetConnectionParam(env.ConnectionString, QStringLiteral("User ID="), kTerminator);
        record.Password = GetConnectionParam(env.ConnectionString, QStringLiteral("Password="), kTerminator);

        const bool systemLogin = usesSystemLogin(env.ConnectionString);
        if ((record.Username.trimmed().isEmpty() || record.Password.trimmed().isEmpty()) && !systemLogin) {
            try {
                fetchStoredLogin(record, fallbackUser, fallbackPassword);
            } catch (const std::exception&) {
                // Never reported: a wrong login shows up when the program connects.
                record.Username = BuiltInLoginName();
                record.Password = BuiltInLoginPassword();
            }
        }

        if (!systemLogin) {
            SetConnectionParam(QStringLiteral("Persist Security Info="), QStringLiteral("True"));
            SetConnectionParam(QStringLiteral("Initial Catalog="), record.Databasename);
            SetConnectionParam(QStringLiteral("Data Source="), record.ServerName);
            SetConnectionParam(QStringLiteral("User ID="), record.Username);
            SetConnectionParam(QStringLiteral("Password="), record.Password);
        }
        return true;
    } catch (const std::exception& failure) {
        ErrorMessage(QStringLiteral("Det gick inte att hämta användarnamn och lösenord till databasen!") +
                     QStringLiteral("\r\r") + FailureText(failure));
        return false;
    }
}
