#pragma once

#include "platform/Port.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace platform {

// One message of the program's log, as Qt's logging hands it over.
struct LogRecord {
    QtMsgType type = QtInfoMsg;
    QString category; // the Qt logging category: "ravlek.handoff", "qt.qpa.xcb", "default", ...
    QString message;  // may hold line breaks
    QString program;  // the program that writes it: "ravlek", "kelvo-progress", ...
    qint64 processId = 0;
    QDateTime time;
    // Where in the source it was written, when Qt knows it (empty and 0 otherwise).
    QString file;
    int line = 0;
    QString function;
};

// Where the log goes for a practice's support: the system's journal when there is one, else a
// file of the user's own (docs/logging.md). The log handler (platform/Logging.h) calls write
// under its own lock, one record at a time, from whichever thread logged.
class LogSink {
public:
    virtual ~LogSink() = default;

    // Stores one record; false when it could not be stored (the caller then falls back to
    // the standard error stream).
    virtual bool write(const LogRecord& record) = 0;
    // Where the records go, as a user would look for them: "the journal", or the file's path.
    virtual QString destination() const = 0;

    static std::unique_ptr<LogSink> makeDefault();
};

inline LogSink& logSink() {
    return Port<LogSink>::instance();
}

} // namespace platform
