// Requests that a peer sends to a window of ours over the window bus: any bytes on the
// window's socket, arriving a few at a time. A handle of 0 in a request stands for the
// window's own handle (its real one is chosen at random at every run).

#include "FuzzSupport.h"

#include "platform/LocalWindowBus.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr qsizetype kRequestSize = 32;
constexpr qsizetype kReplySize = 16;
constexpr quint32 kMagic = 0x5355424B; // "KBUS"

struct Window {
    platform::LocalWindowBus bus{fuzz::scratchFolder() + QStringLiteral("/bus")};
    std::unique_ptr<platform::WindowRegistration> registration;
};

// Never destroyed: the bus's own tables may be gone by the time static objects end.
Window& window() {
    static Window* const instance = new Window;
    return *instance;
}

qint64 handlerResult(quint32 msg, qint64 wParam, qint64 lParam) {
    return qint64((quint64(wParam) ^ quint64(lParam)) + msg);
}

struct Expected {
    QByteArray replies;
    bool closes = false; // the window hangs up after the replies (a request without "KBUS")
};

// What the window answers: one reply per whole request, in order, up to a request that
// does not start with the magic.
Expected expectedFor(QByteArray& requests, quint32 handle) {
    Expected expected;
    for (qsizetype at = 0; at + kRequestSize <= requests.size(); at += kRequestSize) {
        char* frame = requests.data() + at;
        if (qFromLittleEndian<quint32>(frame) != kMagic) {
            expected.closes = true;
            break;
        }
        if (qFromLittleEndian<quint32>(frame + 8) == 0)
            qToLittleEndian<quint32>(handle, frame + 8);
        const quint32 kind = qFromLittleEndian<quint32>(frame + 4);
        const bool ours = qFromLittleEndian<quint32>(frame + 8) == handle;
        const quint32 msg = qFromLittleEndian<quint32>(frame + 12);
        const bool handled = ours && (kind == 1 || kind == 2);
        qint64 result = 0;
        if (handled && kind == 1)
            result = handlerResult(msg, qFromLittleEndian<qint64>(frame + 16),
                                   qFromLittleEndian<qint64>(frame + 24));
        char reply[kReplySize];
        qToLittleEndian<quint32>(kMagic, reply);
        qToLittleEndian<quint32>(handled ? 0 : 1, reply + 4);
        qToLittleEndian<qint64>(result, reply + 8);
        expected.replies.append(reply, kReplySize);
    }
    return expected;
}

int connectToWindow() {
    const QString path = window().bus.folder() + QLatin1Char('/') +
                         QString::number(window().registration->handle()) + QStringLiteral(".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = path.toLocal8Bit();
    std::memcpy(address.sun_path, native.constData(),
                std::min<std::size_t>(native.size(), sizeof address.sun_path - 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fuzz::require(fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                  "the window's socket takes a connection");
    return fd;
}

// Reads what has arrived; false once the window has hung up.
bool receive(int fd, QByteArray& received) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            received.append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 && errno == EAGAIN;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    QString error;
    window().registration = window().bus.registerWindow(
        {QStringLiteral("TFuzzWindow"), QStringLiteral("Fuzz"), handlerResult, nullptr}, &error);
    fuzz::require(window().registration != nullptr, "the window is registered");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray requests = fuzz::bytesOf(data, size);
    const Expected expected = expectedFor(requests, quint32(window().registration->handle()));

    const int fd = connectToWindow();
    QByteArray received;
    bool open = true;
    // A few bytes at a time, as a slow sender's pieces arrive, each answered as far as it goes.
    for (qsizetype at = 0; at < requests.size() && open; at += 7) {
        const qsizetype piece = std::min<qsizetype>(7, requests.size() - at);
        if (::send(fd, requests.constData() + at, size_t(piece), MSG_NOSIGNAL) != piece)
            break; // the window hung up
        QCoreApplication::processEvents();
        open = receive(fd, received);
    }
    const QDeadlineTimer deadline(10000);
    while (open && received.size() < expected.replies.size() && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        open = receive(fd, received);
    }
    fuzz::require(received == expected.replies, "every whole request is answered, in order, up to a bad one");
    if (expected.closes) {
        while (open && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            open = receive(fd, received);
        }
        fuzz::require(!open, "a request without the magic ends the connection");
    }
    ::close(fd);
    QCoreApplication::processEvents(); // the window forgets the connection
    return 0;
}
