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
#include <QStringList>

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

// Which data-link file names the practice database, and the connection string read from it.
// The application environment holds the program's one (TApplicationEnvironment).
struct TDataLinkState {
    QString DataLinksPath;    // folder of the data-link files, with a trailing delimiter
    QString DataProviderFile; // full path of the data-link file; may name a missing file
    QString
        ConnectionString; // empty, "Provider=" + the file's initialisation string, or completed by the login
};

// "Provider=" + the initialisation string of a data-link file, as the profile reader gives
// it (at most 254 characters; nothing after "Provider=" when the file cannot be read).
QString DataLinkConnectionString(const QString& fileName);

// The data-link file at start; every start decides it here, once. The stored default
// `storedDefault` names an existing file, or else a file of the data-link folder; the last
// command-line argument (the program itself first) that contains ".UDL" in any letter case
// and names an existing file as given, in `programDir` or in the data-link folder overrides
// it. The connection string is read from the file when it can be read as a profile file,
// and is empty otherwise. `state.DataLinksPath` must be set.
void SelectDataLinkAtStart(TDataLinkState& state, const QString& storedDefault, const QStringList& arguments,
                           const QString& programDir);

// The file name part of a path written with "/" or "\".
QString FileNamePart(const QString& path);
