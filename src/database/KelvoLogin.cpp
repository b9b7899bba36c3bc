#include "database/KelvoLogin.h"

#include "database/KelvoCipher.h"
#include "database/KelvoComponents.h"
#include "database/KelvoDatabase.h"
#include "platform/Logging.h"

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
void readDataLinkFile(TDataLinkState& dataLink, const TDatabaseLinks& links) {
    if (dataLink.ConnectionString.toUpper().contains(QStringLiteral("PROVIDER=")))
        return;
    if (!fileExists(dataLink.DataProviderFile) &&
        fileExists(dataLink.DataLinksPath + dataLink.DataProviderFile))
        dataLink.DataProviderFile = dataLink.DataLinksPath + dataLink.DataProviderFile;
    if (!fileExists(dataLink.DataProviderFile) && links.FindFiles) {
        const QStringList found = links.FindFiles(dataLink.DataLinksPath, QStringLiteral("*.udl"));
        if (found.size() == 1) {
            dataLink.DataProviderFile = found.first();
            if (links.WriteSetting)
                links.WriteSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"),
                                   dataLink.DataProviderFile);
        }
    }
    if (!fileExists(dataLink.DataProviderFile)) {
        DatabaseMessage(
            links, platform::DialogKind::Warning,
            QStringLiteral("Kunde inte hitta den angivna DataProvider-filen \"") + dataLink.DataProviderFile +
                QStringLiteral("\"!\r") +
                QStringLiteral("Kontrollera att filen finns i den aktuella katalogen och försök igen!") +
                QStringLiteral("\r\r") + QStringLiteral("Välj databasanslutning i nästa dialog"));
        const QString current = FileNamePart(dataLink.DataProviderFile);
        const QString chosen = links.ChooseDataProvider
                                   ? links.ChooseDataProvider(QStringLiteral("DefaultDataProvider"), current)
                                   : current;
        dataLink.DataProviderFile = dataLink.DataLinksPath + chosen;
    }
    dataLink.ConnectionString = DataLinkConnectionString(dataLink.DataProviderFile);
}

// Opens `connection` with the operating-system login, or else with the fallback login. The
// data-link file's time-out holds for these connects too. A server that ran into the time-out
// is not tried a second time (TADOConnection::Open refuses it at once).
void connectForLogin(TADOConnection& connection, const QString& connectionString, const TDBConnection& record,
                     const QString& fallbackUser, const QString& fallbackPassword) {
    const QString provider = GetConnectionParam(connectionString, QStringLiteral("Provider="), kTerminator);
    const QString timeout =
        GetConnectionParam(connectionString, QStringLiteral("Connect Timeout="), kTerminator);
    const QString target = QStringLiteral(";Initial Catalog=") + record.Databasename +
                           QStringLiteral(";Data Source=") + record.ServerName +
                           (timeout.isEmpty() ? QString() : QStringLiteral(";Connect Timeout=") + timeout);
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
void fetchStoredLogin(const QString& connectionString, TDBConnection& record, const QString& fallbackUser,
                      const QString& fallbackPassword) {
    // Private, and never asks the user for a login: it only ever tries the two below.
    TADOConnection connection;
    connection.setObjectName(QStringLiteral("KELVOUSER login"));
    connectForLogin(connection, connectionString, record, fallbackUser, fallbackPassword);

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

void SetConnectionParam(QString& text, const QString& key, const QString& value) {
    const qsizetype keyAt = text.indexOf(key);
    if (keyAt < 0) {
        if (!value.isEmpty())
            text += kTerminator + key + value;
        return;
    }
    const qsizetype end = text.indexOf(kTerminator, keyAt + key.size());
    text.replace(keyAt, (end < 0 ? text.size() : end) - keyAt, key + value);
}

bool BuildConnectionString(TDataLinkState& dataLink, const TDatabaseLinks& links, const QString& fallbackUser,
                           const QString& fallbackPassword) {
    QString& text = dataLink.ConnectionString;
    TDBConnection& record = DBConnection();
    try {
        readDataLinkFile(dataLink, links);

        record.Databasename = GetConnectionParam(text, QStringLiteral("Initial Catalog="), kTerminator);
        record.ServerName = GetConnectionParam(text, QStringLiteral("Data Source="), kTerminator);
        record.Username = GetConnectionParam(text, QStringLiteral("User ID="), kTerminator);
        record.Password = GetConnectionParam(text, QStringLiteral("Password="), kTerminator);

        const bool systemLogin = usesSystemLogin(text);
        if ((record.Username.trimmed().isEmpty() || record.Password.trimmed().isEmpty()) && !systemLogin) {
            try {
                // Most databases of a single workstation have no KELVOUSER: not worth a warning.
                const TQuietDatabaseErrors quiet;
                fetchStoredLogin(text, record, fallbackUser, fallbackPassword);
            } catch (const std::exception& failure) {
                // Never reported: a wrong login shows up when the program connects.
                qCInfo(lcDb).noquote() << QStringLiteral("No login could be read from KELVOUSER (%1); the "
                                                         "program's own login is used")
                                              .arg(FailureText(failure));
                record.Username = BuiltInLoginName();
                record.Password = BuiltInLoginPassword();
            }
        }

        if (!systemLogin) {
            SetConnectionParam(text, QStringLiteral("Persist Security Info="), QStringLiteral("True"));
            SetConnectionParam(text, QStringLiteral("Initial Catalog="), record.Databasename);
            SetConnectionParam(text, QStringLiteral("Data Source="), record.ServerName);
            SetConnectionParam(text, QStringLiteral("User ID="), record.Username);
            SetConnectionParam(text, QStringLiteral("Password="), record.Password);
        }
        return true;
    } catch (const std::exception& failure) {
        DatabaseMessage(links, platform::DialogKind::Error,
                        QStringLiteral("Det gick inte att hämta användarnamn och lösenord till databasen!") +
                            QStringLiteral("\r\r") + FailureText(failure));
        return false;
    }
}
