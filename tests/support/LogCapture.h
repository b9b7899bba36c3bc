#pragma once

#include "platform/LogSink.h"
#include "platform/Logging.h"
#include "platform/RotatingFileLogSink.h"

#include <QStringList>
#include <QTemporaryDir>

// The log of the code under test while the object lives: Qt's logging goes through the
// program's own handler (LogHandlerScope) into a real log file in a folder of its own. The
// program's categories log information and above whatever QT_LOGGING_RULES says (the test
// runs turn their information off), detail as the rules say.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The records so far as "<level> <category>: <text>", without time, program and process.
    QStringList lines() const;
    // The lines of one category.
    QStringList lines(const QString& category) const;
    // A text as a line holds it: line breaks written as "\n", carriage returns as "\r".
    static QString asLogged(QString text);

private:
    QTemporaryDir m_dir;
    platform::RotatingFileLogSink m_sink;
    platform::ScopedPort<platform::LogSink> m_port;
    platform::LogHandlerScope m_scope;
};
