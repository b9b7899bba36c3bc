#pragma once

#include "platform/LogSink.h"

#include <QByteArray>

namespace platform {

// The log as a text file of the user's own, one line per record:
//
//   2024-05-02T14:03:11.482+02:00 ravlek[4242] info ravlek.handoff: Stored ...
//
// with line breaks of a message shown as "\n" (and carriage returns as "\r"). No file grows
// beyond its size cap: the record that would cross it first moves the file to "<name>.1",
// "<name>.1" to "<name>.2" and so on, and the oldest beyond the kept count goes. Every
// program of the installation may write the same file at the same time: each record is
// appended under an exclusive lock of the file, and a writer that finds the file rotated
// meanwhile writes to the new one, so no record is lost or torn across a rotation.
class RotatingFileLogSink final : public LogSink {
public:
    static constexpr qint64 kDefaultMaxFileBytes = 1024 * 1024;
    static constexpr int kDefaultRotatedFiles = 4;
    // A longer message is cut there (and says so), so that one record never breaks the cap.
    static constexpr qsizetype kMaxRecordBytes = 64 * 1024;

    // $XDG_STATE_HOME/kelvo/ravlek.log (~/.local/state/kelvo/ravlek.log).
    static QString defaultPath();

    explicit RotatingFileLogSink(const QString& path = defaultPath(),
                                 qint64 maxFileBytes = kDefaultMaxFileBytes,
                                 int rotatedFiles = kDefaultRotatedFiles);

    bool write(const LogRecord& record) override;
    QString destination() const override { return m_path; }

    // The line a record becomes, with its line feed.
    static QByteArray line(const LogRecord& record);

private:
    bool append(const QByteArray& text);
    void rotate();

    QString m_path;
    qint64 m_maxFileBytes;
    int m_rotatedFiles;
};

} // namespace platform
