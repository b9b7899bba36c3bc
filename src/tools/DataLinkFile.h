#pragma once

// Data-link (".udl") files and the connection strings they hold.
//
// A data-link file is UTF-16 LE text with a byte-order mark:
//   [oledb]
//   ; Everything after this line is an OLE DB initstring
//   Provider=SQLOLEDB.1;Persist Security Info=False;User ID=...;Initial Catalog=...;Data Source=...

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// The database engines a connection string can name through its provider.
enum class DataLinkEngine { SqlServer, PostgreSQL, SQLite };

// The engine a provider name selects ("SQLOLEDB.1", "MSOLEDBSQL", "SQLNCLI11", "PostgreSQL",
// "SQLite"; letter case and a version suffix do not matter); nothing for other providers.
std::optional<DataLinkEngine> EngineOfProvider(const QString& provider);
// The provider name written for an engine chosen in the editor.
QString ProviderOfEngine(DataLinkEngine engine);

// The parts of a connection string that the data-link editor shows.
struct TDataLink {
    QString provider;                          // e.g. "SQLOLEDB.1"
    QString server;                            // "Data Source": the server, or the database file for SQLite
    QString database;                          // "Initial Catalog"
    QString user;                              // "User ID"
    QString password;                          // "Password"
    bool integratedSecurity = false;           // "Integrated Security=SSPI": the operating-system login
    QList<QPair<QString, QString>> otherParts; // any other key, kept in its order
};

// Splits "Key=Value;Key=Value" into its parts. Keys are found without regard to letter
// case; a value may be enclosed in double quotes (to hold a ";").
TDataLink ParseConnectionString(const QString& connectionString);
// The connection string for `link`, in the order the system's data-link editor writes:
// provider, password, persist flag, user, catalog, source, then the other parts.
QString ComposeConnectionString(const TDataLink& link);

// The connection string held by a data-link file: "Provider=" + the value of "Provider"
// in its section "oledb". Nothing when the file cannot be read or holds no such line.
std::optional<QString> ReadDataLinkFile(const QString& fileName);
// The same for the bytes of a data-link file.
std::optional<QString> DataLinkConnectionString(const QByteArray& fileBytes);
// Writes a data-link file that holds `connectionString`, replacing the file. The text is
// written to a temporary file first, so a failed write leaves the old file as it was.
// False with `error` set on failure.
bool WriteDataLinkFile(const QString& fileName, const QString& connectionString, QString* error = nullptr);
