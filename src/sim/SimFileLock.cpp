#include "sim/SimFileLock.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace {

int openLockFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    return ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

struct flock wholeFile(short type) {
    struct flock request {};
    request.l_type = type;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    return request;
}

bool lockFd(int fd, bool wait) {
    struct flock request = wholeFile(F_WRLCK);
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void recordHolder(int fd) {
    // The id is only shown to people (ravlek-sim list); the lock works without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0)
        return;
    if (::pwrite(fd, pid.data(), pid.size(), 0) < 0)
        return;
}

} // namespace

SimFileLock::SimFileLock(int fd)
    : m_fd(fd) {}

SimFileLock::~SimFileLock() {
    release();
}

SimFileLock::SimFileLock(SimFileLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

SimFileLock& SimFileLock::operator=(SimFileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

std::optional<SimFileLock> SimFileLock::tryAcquire(const QString& path) {
    const int fd = openLockFile(path);
    if (fd < 0)
        return std::nullopt;
    if (!lockFd(fd, false)) {
        ::close(fd);
        return std::nullopt;
    }
    recordHolder(fd);
    return SimFileLock(fd);
}

std::optional<SimFileLock> SimFileLock::acquire(const QString& path) {
    const int fd = openLockFile(path);
    if (fd < 0)
        return std::nullopt;
    if (!lockFd(fd, true)) {
        ::close(fd);
        return std::nullopt;
    }
    return SimFileLock(fd);
}

bool SimFileLock::isHeld(const QString& path) {
    const int fd = openLockFile(path);
    if (fd < 0)
        return false;
    struct flock probe = wholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

qint64 SimFileLock::recordedHolder(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toLongLong();
}

void SimFileLock::release() {
    if (m_fd >= 0) {
        // Closing the last descriptor of the open file description drops its lock.
        ::close(m_fd);
        m_fd = -1;
    }
}
