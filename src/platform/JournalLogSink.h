#pragma once

#include "platform/LogSink.h"
#include "platform/UniqueFd.h"

#include <QByteArray>

namespace platform {

// The systemd journal, written natively: each record is one datagram of the journal's own
// protocol on its socket, with the fields MESSAGE, PRIORITY (syslog's numbers, from the Qt
// message type), SYSLOG_IDENTIFIER (the program), QT_CATEGORY (the logging category, the
// field Qt's own journal output uses) and, when Qt knows them, CODE_FILE, CODE_LINE and
// CODE_FUNC. A record too large for one datagram travels in a sealed memory file, as the
// journal expects.
class JournalLogSink final : public LogSink {
public:
    // The journal's socket: KELVO_JOURNAL_SOCKET when set, else /run/systemd/journal/socket.
    static QString defaultSocketPath();

    explicit JournalLogSink(const QString& socketPath = defaultSocketPath());

    // Whether a journal listens on the socket.
    bool connected() const { return m_socket.valid(); }

    bool write(const LogRecord& record) override;
    QString destination() const override;

    // The journal's priority for a Qt message type: 7 debug, 6 info, 4 warning, 3 critical,
    // 2 fatal.
    static int priorityOf(QtMsgType type);
    // The fields of one record in the journal's native format.
    static QByteArray datagram(const LogRecord& record);

private:
    bool connectSocket();
    bool send(const QByteArray& datagram);
    bool sendAsMemoryFile(const QByteArray& datagram);

    QString m_socketPath;
    UniqueFd m_socket;
};

} // namespace platform
