#include "sim/SimFileLock.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

SimFileLock::SimFileLock(platform::UniqueFd fd)
    : m_fd(std::move(fd)) {}

std::optional<SimFileLock> SimFileLock::tryAcquire(const QString& path) {
    platform::UniqueFd fd(openLockFile(path));
    if (!fd.valid() || !lockFd(fd.get(), false))
        return std::nullopt;
    recordHolder(fd.get());
    return SimFileLock(std::move(fd));
}

std::optional<SimFileLock> SimFileLock::acquire(const QString& path) {
    platform::UniqueFd fd(openLockFile(path));
    if (!fd.valid() || !lockFd(fd.get(), true))
        return std::nullopt;
    return SimFileLock(std::move(fd));
}

bool SimFileLock::isHeld(const QString& path) {
    const platform::UniqueFd fd(openLockFile(path));
    if (!fd.valid())
        return false;
    struct flock probe = wholeFile(F_WRLCK);
    return ::fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

qint64 SimFileLock::recordedHolder(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toLongLong();
}

void SimFileLock::release() {
    m_fd.reset();
}
