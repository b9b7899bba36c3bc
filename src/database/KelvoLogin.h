#pragma once

// The database login: completes the connection string that the choice of the data-link
// file began (TDataLinkState) and fills the process-wide connection record.

#include "database/DataLinkFile.h"
#include "database/DatabaseLinks.h"

#include <QString>

// The parts of the current database connection.
struct TDBConnection {
    QString Databasename; // "Initial Catalog="
    QString ServerName;   // "Data Source="
    QString Username;     // SQL login name
    QString Password;     // SQL login password
    QString SQLProcessID; // not used by this program
};

// The process-wide connection record; it keeps the values of the last build for the run.
TDBConnection& DBConnection();

// The program's own SQL login, used when the practice database holds no readable login.
QString BuiltInLoginName();
QString BuiltInLoginPassword();

// Finds and reads the data-link file when the connection string of `dataLink` has no provider
// yet (asking the user through `links` when there is no single obvious file), takes the login
// from the string or else from the practice database's KELVOUSER table (or the built-in
// login), and writes the login back into the string. False after an error message.
bool BuildConnectionString(TDataLinkState& dataLink, const TDatabaseLinks& links, const QString& fallbackUser,
                           const QString& fallbackPassword);

// The text after the first occurrence of `key` in `text` up to the next `terminator` (to
// the end when there is none); empty when `key` does not occur. Letter case counts.
QString GetConnectionParam(const QString& text, const QString& key, const QString& terminator);

// Sets `key` + `value` in `connectionString`: replaces the first occurrence of `key` up to
// the next ";" (or to the end), or appends ";" + key + value when the key is missing and
// the value is not empty.
void SetConnectionParam(QString& connectionString, const QString& key, const QString& value);
