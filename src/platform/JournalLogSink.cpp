#include "platform/JournalLogSink.h"

#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// One field: "NAME=value\n", or, for a value with a line break, the name, a line feed, the
// value's length as 64-bit little-endian and the value, then a line feed.
void appendField(QByteArray& datagram, const char* name, const QByteArray& value) {
    datagram.append(name);
    if (!value.contains('\n')) {
        datagram.append('=').append(value).append('\n');
        return;
    }
    datagram.append('\n');
    const quint64 size = qToLittleEndian(quint64(value.size()));
    datagram.append(reinterpret_cast<const char*>(&size), sizeof size);
    datagram.append(value).append('\n');
}

} // namespace

QString JournalLogSink::defaultSocketPath() {
    const QString configured = qEnvironmentVariable("KELVO_JOURNAL_SOCKET");
    return configured.isEmpty() ? QStringLiteral("/run/systemd/journal/socket") : configured;
}

JournalLogSink::JournalLogSink(const QString& socketPath)
    : m_socketPath(socketPath) {
    connectSocket();
}

bool JournalLogSink::connectSocket() {
    m_socket.reset();
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid() ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    m_socket = std::move(socket);
    return true;
}

int JournalLogSink::priorityOf(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        break;
    }
    return 2;
}

QByteArray JournalLogSink::datagram(const LogRecord& record) {
    QByteArray datagram;
    appendField(datagram, "MESSAGE", record.message.toUtf8());
    appendField(datagram, "PRIORITY", QByteArray::number(priorityOf(record.type)));
    appendField(datagram, "SYSLOG_IDENTIFIER", record.program.toUtf8());
    appendField(datagram, "QT_CATEGORY", record.category.toUtf8());
    if (!record.file.isEmpty()) {
        appendField(datagram, "CODE_FILE", record.file.toUtf8());
        appendField(datagram, "CODE_LINE", QByteArray::number(record.line));
    }
    if (!record.function.isEmpty())
        appendField(datagram, "CODE_FUNC", record.function.toUtf8());
    return datagram;
}

bool JournalLogSink::write(const LogRecord& record) {
    const QByteArray fields = datagram(record);
    if (send(fields))
        return true;
    // A journal that was restarted listens on a new socket under the same name.
    return (errno == ECONNREFUSED || errno == ENOTCONN) && connectSocket() && send(fields);
}

QString JournalLogSink::destination() const {
    return QStringLiteral("the journal");
}

bool JournalLogSink::send(const QByteArray& datagram) {
    if (!m_socket.valid()) {
        errno = ENOTCONN;
        return false;
    }
    ssize_t sent = -1;
    do {
        sent = ::send(m_socket.get(), datagram.constData(), std::size_t(datagram.size()), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent == datagram.size())
        return true;
    if (sent < 0 && (errno == EMSGSIZE || errno == ENOBUFS))
        return sendAsMemoryFile(datagram);
    return false;
}

// The journal takes a record larger than a datagram as a sealed memory file passed along
// with an empty datagram.
bool JournalLogSink::sendAsMemoryFile(const QByteArray& datagram) {
    const UniqueFd memory(::memfd_create("ravlek-journal", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!memory.valid())
        return false;
    for (qsizetype done = 0; done < datagram.size();) {
        const ssize_t written =
            ::write(memory.get(), datagram.constData() + done, std::size_t(datagram.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    if (::fcntl(memory.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
        return false;

    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int fd = memory.get();
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t sent = -1;
    do {
        sent = ::sendmsg(m_socket.get(), &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

} // namespace platform
