#include "platform/SignalTerminationRequests.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The pipe's writing end while a watch is active, else -1.
std::atomic<int> g_pipeWriteEnd{-1};

// Runs inside the signal: only async-signal-safe calls, and errno as it was found.
void noteSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_pipeWriteEnd.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe holds enough unread requests already.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

QString nameOf(int signal) {
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QString::number(signal);
    }
}

class SignalWatch final : public TerminationWatch {
public:
    SignalWatch(int readEnd, int writeEnd, std::function<void(const QString&)> handler)
        : m_readEnd(readEnd)
        , m_writeEnd(writeEnd)
        , m_handler(std::move(handler))
        , m_notifier(readEnd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier, [this] { deliver(); });
        g_pipeWriteEnd.store(m_writeEnd);
        struct sigaction action = {};
        action.sa_handler = noteSignal;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on by themselves; the handler's work waits for the loop.
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            ::sigaction(kSignals[i], nullptr, &m_previous[i]);
            // Ignored by whoever started the program (`nohup`, a background job): it stays so.
            if (m_previous[i].sa_handler != SIG_IGN)
                ::sigaction(kSignals[i], &action, nullptr);
        }
    }

    ~SignalWatch() override {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
        g_pipeWriteEnd.store(-1);
        m_notifier.setEnabled(false);
        ::close(m_readEnd);
        ::close(m_writeEnd);
    }

    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    void deliver() {
        unsigned char signals[64];
        for (;;) {
            const ssize_t got = ::read(m_readEnd, signals, sizeof signals);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return;
            for (ssize_t i = 0; i < got; ++i)
                m_handler(nameOf(signals[i]));
        }
    }

    const int m_readEnd;
    const int m_writeEnd;
    const std::function<void(const QString&)> m_handler;
    QSocketNotifier m_notifier;
    std::array<struct sigaction, kSignals.size()> m_previous{};
};

} // namespace

std::unique_ptr<TerminationRequests> TerminationRequests::makeDefault() {
    return std::make_unique<SignalTerminationRequests>();
}

std::unique_ptr<TerminationWatch>
SignalTerminationRequests::watch(std::function<void(const QString&)> handler) {
    if (g_pipeWriteEnd.load() >= 0)
        return nullptr;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    return std::make_unique<SignalWatch>(fds[0], fds[1], std::move(handler));
}

} // namespace platform
