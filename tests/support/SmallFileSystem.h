#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/statvfs.h>

// A small file system of its own (tmpfs) mounted for one test, so that the test can fill it
// up: a full disk that root cannot write past either. Mounting needs root (CAP_SYS_ADMIN);
// where it fails, `error()` says why and the test skips.
class SmallFileSystem {
public:
    // `size` as tmpfs takes it: "1m", "512k".
    SmallFileSystem(const QString& mountPoint, const char* size)
        : m_mountPoint(QFile::encodeName(mountPoint)) {
        QDir().mkpath(mountPoint);
        const QByteArray options = QByteArray("size=") + size + ",mode=0755";
        if (::mount("tmpfs", m_mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) !=
            0)
            m_error = errno;
    }
    ~SmallFileSystem() {
        if (m_error == 0)
            ::umount2(m_mountPoint.constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    // 0 when mounted, else the errno of the refused mount.
    int error() const { return m_error; }
    QString skipReason() const {
        return QStringLiteral("a small tmpfs cannot be mounted here (needs root): ") +
               QString::fromLocal8Bit(std::strerror(m_error));
    }
    qint64 freeBytes() const {
        struct statvfs status;
        return ::statvfs(m_mountPoint.constData(), &status) == 0
                   ? qint64(status.f_bavail) * qint64(status.f_frsize)
                   : -1;
    }
    // Writes a file that takes all the space that is left.
    bool fill(const QString& fileName) const {
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (file.write(block) == block.size() && file.flush()) {
        }
        return freeBytes() == 0;
    }

private:
    QByteArray m_mountPoint;
    int m_error = 0;
};
