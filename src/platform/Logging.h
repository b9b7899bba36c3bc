#pragma once

// The log for a practice's support (docs/logging.md): every part writes to one of the logging
// categories below with qCInfo, qCWarning, ... (qCDebug for detail, which is off unless
// QT_LOGGING_RULES turns it on), and each program's main() sends what is written to the log
// sink (platform/LogSink.h) through a LogHandlerScope.

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <optional>

// The categories, each with what it tells:
Q_DECLARE_LOGGING_CATEGORY(lcApp)     // "ravlek.app": start and end of a program
Q_DECLARE_LOGGING_CATEGORY(lcDialog)  // "ravlek.dialog": every message box, and its answer
Q_DECLARE_LOGGING_CATEGORY(lcHandOff) // "ravlek.handoff": each image stored for a patient
Q_DECLARE_LOGGING_CATEGORY(lcBus)     // "ravlek.bus": the messages to the journal program, the bus
Q_DECLARE_LOGGING_CATEGORY(lcDevice)  // "ravlek.device": the devices opened and closed
Q_DECLARE_LOGGING_CATEGORY(lcDb)      // "ravlek.db": the database's connections and failures
Q_DECLARE_LOGGING_CATEGORY(lcLock)    // "ravlek.lock": workstation locks taken, queued for, given up
Q_DECLARE_LOGGING_CATEGORY(lcPacs)    // "ravlek.pacs": images queued for, sent to, refused by the PACS
Q_DECLARE_LOGGING_CATEGORY(lcSound)   // "ravlek.sound": the sound output's own complaints

namespace platform {

// While it lives, every Qt message of the process (ours and Qt's own) goes to the log sink,
// with the secrets of connection strings masked (MaskSecrets). A record the sink cannot take
// goes to the standard error stream instead. Records are copied to the standard error
// stream too when it is a terminal, or when QT_FORCE_STDERR_LOGGING is 1. Construct one at
// the start of main(), after the options that need no log (--help, --version), and before
// anything whose end is worth logging; it logs the program's start, and its end when it goes.
class LogHandlerScope {
public:
    // `arguments`: the command line after the program's name.
    LogHandlerScope(const QString& program, const QStringList& arguments);
    ~LogHandlerScope();
    LogHandlerScope(const LogHandlerScope&) = delete;
    LogHandlerScope& operator=(const LogHandlerScope&) = delete;

    // Notes the exit code the program ends with, for the end's log line, and returns it.
    int endsWith(int exitCode) {
        m_exitCode = exitCode;
        return exitCode;
    }

private:
    QString m_program;
    std::optional<int> m_exitCode;
};

// `text` with the login masked as "****": the values of "Password", "Pwd", "User ID", "UID",
// "User", "User Name" and "Username" in "key=value" form (letter case and blanks around "=" as
// they come; values quoted with " or ', in braces, or running to the next ";" or line break),
// the login of a URL ("scheme://user:password@"), a login name that a database's error quotes
// (user "ann", role "ann", user 'ann') and the one that the connect failure names
// ("med användarnamnet ann").
QString MaskSecrets(const QString& text);

} // namespace platform
