#pragma once

// The application environment: the places the program works with, resolved by
// InitApplicationEnvironment and read by the settings store, the login and the windows.

#include "database/DataLinkFile.h"

#include <QString>
#include <QStringList>

// The data-link folder, the data-link file and the connection string come from the
// database layer's TDataLinkState, which decides the data-link file at start.
struct TApplicationEnvironment : TDataLinkState {
    QString ApplicationPath; // current directory at set-up, with a trailing delimiter
    QString ApplicationKey;  // installation key of the settings store, ends in "\"
    QString UserKey;         // equal to ApplicationKey
    QString WindowsPath;
    QString SystemPath;
    QString SuiteDataPath; // per-user data folder of the suite, or empty
    bool NoLogin = false;
};

// The process-wide environment values.
TApplicationEnvironment& Environment();

// Recomputes every value from scratch; the program does it once, at start. Throws
// std::runtime_error with "Unable to get Current path" (or the Windows/System32 texts) when
// a system folder cannot be had. True when every value was set up; false when the suite's
// data folder could not be had (SuiteDataPath then stays empty, which is not reported).
bool InitApplicationEnvironment();
// The same, with the command-line arguments given (the first is the program itself).
bool InitApplicationEnvironment(const QStringList& arguments);

// The installation key derived from a folder path (see docs/configuration.md).
QString ApplicationKeyFor(const QString& folderPath);

QString ReadIniString(const QString& fileName, const QString& section, const QString& key);
QString GetSpecialFolder(int folderId);
QString GetAppDataFolder();
