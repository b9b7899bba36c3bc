// Replies that a peer's window sends back to a message of ours over the window bus: any
// bytes, after which the peer hangs up. A stand-in receiver on its own thread answers
// every request with the input.

#include "FuzzSupport.h"

#include "platform/LocalWindowBus.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr platform::WindowHandle kHandle = 4242;
constexpr quint32 kMessage = 0xC001;
constexpr qint64 kWParam = 17;
constexpr qint64 kLParam = -3;

QString busFolder() {
    return fuzz::scratchFolder() + QStringLiteral("/bus");
}

// The receiver: accepts a connection, reads the request, answers with `reply`, hangs up.
class StandInReceiver {
public:
    StandInReceiver() {
        QDir().mkpath(busFolder());
        const QString socketPath = busFolder() + QStringLiteral("/%1.sock").arg(kHandle);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray native = socketPath.toLocal8Bit();
        std::memcpy(address.sun_path, native.constData(), native.size());
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        fuzz::require(::bind(m_listen, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                          ::listen(m_listen, 4) == 0,
                      "the stand-in receiver listens");
        const QJsonObject entry{{QStringLiteral("handle"), kHandle},
                                {QStringLiteral("class"), QStringLiteral("TStandIn")},
                                {QStringLiteral("title"), QStringLiteral("Stand-in")},
                                {QStringLiteral("pid"), qint64(::getpid())},
                                {QStringLiteral("activated"), 1}};
        QFile file(busFolder() + QStringLiteral("/%1.window").arg(kHandle));
        fuzz::require(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(entry).toJson()) > 0,
                      "the stand-in receiver's entry is written");
        std::thread([this] { serve(); }).detach();
    }

    void setReply(const QByteArray& reply) {
        std::lock_guard guard(m_mutex);
        m_reply = reply;
    }

private:
    [[noreturn]] void serve() {
        for (;;) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            char request[32];
            const ssize_t got = ::recv(fd, request, sizeof request, MSG_WAITALL);
            fuzz::require(got == sizeof request && qFromLittleEndian<quint32>(request) == 0x5355424B &&
                              qFromLittleEndian<quint32>(request + 4) == 1 &&
                              qFromLittleEndian<quint32>(request + 8) == quint32(kHandle) &&
                              qFromLittleEndian<quint32>(request + 12) == kMessage &&
                              qFromLittleEndian<qint64>(request + 16) == kWParam &&
                              qFromLittleEndian<qint64>(request + 24) == kLParam,
                          "the request is the message sent");
            QByteArray reply;
            {
                std::lock_guard guard(m_mutex);
                reply = m_reply;
            }
            for (qsizetype at = 0; at < reply.size();) {
                const ssize_t sent =
                    ::send(fd, reply.constData() + at, size_t(reply.size() - at), MSG_NOSIGNAL);
                if (sent <= 0)
                    break; // the sender has what it needs and has gone
                at += sent;
            }
            ::close(fd);
        }
    }

    int m_listen = -1;
    std::mutex m_mutex;
    QByteArray m_reply;
};

StandInReceiver& receiver() {
    static StandInReceiver instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    receiver();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray reply = fuzz::bytesOf(data, size);
    receiver().setReply(reply);

    platform::LocalWindowBus bus(busFolder());
    qint64 result = -1;
    const bool answered = bus.sendMessageTimeout(kHandle, kMessage, kWParam, kLParam, 10000, &result);
    const bool handled = reply.size() >= 16 && qFromLittleEndian<quint32>(reply.constData()) == 0x5355424B &&
                         qFromLittleEndian<quint32>(reply.constData() + 4) == 0;
    fuzz::require(answered == handled, "only a whole reply with the magic and status 0 is an answer");
    fuzz::require(result == (handled ? qFromLittleEndian<qint64>(reply.constData() + 8) : 0),
                  "the result is the reply's, or 0");
    return 0;
}
