#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Creates a new, empty file with an unused random name; the mode follows the umask like
// any other file the user creates.
int createUniqueFile(const QString& folder, const QString& namePrefix, QString* path) {
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint64 random = QRandomGenerator::global()->generate64();
        const QString candidate = base + namePrefix + QString::number(random, 36);
        const int fd =
            openRetrying(nativePath(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            *path = candidate;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

bool kernelCopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

// Copies with a plain read/write loop, for file systems where the kernel cannot copy.
int copyWithBuffer(int in, int out, off_t size, const StepHook& stepReached) {
    constexpr size_t kBufferSize = 1 << 20;
    const auto buffer = std::make_unique<char[]>(kBufferSize);
    for (off_t copiedSoFar = 0;;) {
        const ssize_t got = ::read(in, buffer.get(), kBufferSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(out, buffer.get() + written, size_t(got - written));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            written += put;
        }
        copiedSoFar += got;
        if (stepReached && copiedSoFar < size)
            stepReached("mid-copy");
    }
}

// Copies the whole of `in` to `out`, inside the kernel when it can (no data passes through
// this process, and file systems that share blocks do so). The copy goes in slices, and
// each slice is sent on its way to the disk at once, so that the final flush finds little
// left to write and the disk works while the next slice is copied.
int copyContents(int in, int out, const StepHook& stepReached) {
    constexpr size_t kSlice = size_t(8) << 20;
    struct stat source;
    const off_t size = ::fstat(in, &source) == 0 ? source.st_size : 0;
    off_t copiedSoFar = 0;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kSlice, 0);
        if (copied > 0) {
            ::sync_file_range(out, copiedSoFar, copied, SYNC_FILE_RANGE_WRITE);
            copiedSoFar += copied;
            if (stepReached && copiedSoFar < size)
                stepReached("mid-copy");
            continue;
        }
        if (copied == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (copiedSoFar == 0 && kernelCopyUnsupported(errno))
            return copyWithBuffer(in, out, size, stepReached);
        return errno;
    }
}

// Makes a new name in `folder` survive a crash.
void syncFolder(const QString& folder) {
    UniqueFd dir(openRetrying(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

bool hardLinksUnsupported(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

} // namespace

QString FileResult::errorText() const {
    return systemErrorText(error);
}

QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool forEachEntryName(const QString& folder, const std::function<void(QByteArrayView name)>& visit) {
    DIR* dir = ::opendir(nativePath(folder).constData());
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            visit(name);
    }
    ::closedir(dir);
    return true;
}

QStringList folderEntryNames(const QString& folder) {
    QStringList names;
    forEachEntryName(folder,
                     [&](QByteArrayView name) { names.append(QFile::decodeName(name.toByteArray())); });
    return names;
}

FileResult createTemporaryFile(const QString& folder, const QString& namePrefix, QString* path) {
    UniqueFd fd(createUniqueFile(folder, namePrefix, path));
    if (!fd.valid())
        return {errno};
    return {fd.close()};
}

FileResult copyToTemporaryFile(const QString& source, const QString& folder, const QString& namePrefix,
                               QString* temporaryPath, const StepHook& stepReached) {
    UniqueFd in(openRetrying(nativePath(source).constData(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return {errno};
    QString path;
    UniqueFd out(createUniqueFile(folder, namePrefix, &path));
    if (!out.valid())
        return {errno};
    if (stepReached)
        stepReached("temporary-created");

    int error = copyContents(in.get(), out.get(), stepReached);
    if (error == 0 && ::fsync(out.get()) != 0)
        error = errno;
    const int closeError = out.close();
    if (error == 0)
        error = closeError;
    if (error != 0) {
        ::unlink(nativePath(path).constData());
        return {error};
    }
    if (stepReached)
        stepReached("flushed");
    *temporaryPath = path;
    return {};
}

FileResult publishWithoutReplacing(const QString& temporaryPath, const QString& finalName,
                                   const StepHook& stepReached) {
    const QByteArray from = nativePath(temporaryPath);
    const QByteArray to = nativePath(finalName);
    if (::link(from.constData(), to.constData()) == 0) {
        if (stepReached)
            stepReached("linked");
        ::unlink(from.constData());
    } else if (!hardLinksUnsupported(errno) ||
               ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        return {errno};
    }
    syncFolder(QFileInfo(finalName).absolutePath());
    return {};
}

FileResult replaceWithFile(const QString& temporaryPath, const QString& finalName) {
    const QByteArray from = nativePath(temporaryPath);
    {
        UniqueFd file(openRetrying(from.constData(), O_RDONLY | O_CLOEXEC));
        if (!file.valid() || ::fsync(file.get()) != 0)
            return {errno};
    }
    return renameSynced(temporaryPath, finalName);
}

int removeStaleFiles(const QString& folder, const QString& namePrefix, std::chrono::seconds minimumAge) {
    UniqueFd dirFd(openRetrying(nativePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid())
        return 0;
    const QByteArray prefix = nativePath(namePrefix);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    QList<QByteArray> stale;
    forEachEntryName(folder, [&](QByteArrayView name) {
        if (!name.startsWith(prefix))
            return;
        const QByteArray entry = name.toByteArray();
        struct stat status;
        if (::fstatat(dirFd.get(), entry.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode))
            return;
        // A time in the future (a file server whose clock runs ahead) is not old.
        if (now.tv_sec - status.st_mtim.tv_sec > minimumAge.count())
            stale.append(entry);
    });
    int removed = 0;
    for (const QByteArray& entry : std::as_const(stale))
        if (::unlinkat(dirFd.get(), entry.constData(), 0) == 0)
            ++removed;
    return removed;
}

FileResult removeFile(const QString& path) {
    if (::unlink(nativePath(path).constData()) != 0)
        return {errno};
    return {};
}

FileResult writeSyncedFile(const QString& path, QByteArrayView content) {
    const QByteArray native = nativePath(path);
    UniqueFd out(openRetrying(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out.valid())
        return {errno};
    int error = 0;
    for (qsizetype written = 0; written < content.size() && error == 0;) {
        const ssize_t put = ::write(out.get(), content.data() + written, size_t(content.size() - written));
        if (put >= 0)
            written += put;
        else if (errno != EINTR)
            error = errno;
    }
    if (error == 0 && ::fsync(out.get()) != 0)
        error = errno;
    const int closeError = out.close();
    if (error == 0)
        error = closeError;
    if (error != 0) {
        ::unlink(native.constData());
        return {error};
    }
    return {};
}

FileResult renameSynced(const QString& from, const QString& to) {
    // A folder's own entries must be on the disk before the folder appears under its name.
    if (QFileInfo(from).isDir())
        syncFolder(from);
    if (::rename(nativePath(from).constData(), nativePath(to).constData()) != 0)
        return {errno};
    syncFolder(QFileInfo(to).absolutePath());
    return {};
}

} // namespace platform
