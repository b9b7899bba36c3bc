#include "platform/RotatingFileLogSink.h"

#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Rotations by other programs between opening the file and locking it; more in a row would
// mean the file cannot be written for good.
constexpr int kAppendAttempts = 16;

const char* levelWord(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        break;
    }
    return "fatal";
}

// The time with the local offset, so that lines of a summer and a winter day compare right.
QByteArray timeText(const QDateTime& time) {
    const QDateTime local = time.isValid() ? time.toLocalTime() : QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
}

// The message on one line, cut to `limit` bytes at a character's start when it is longer.
QByteArray messageText(const QString& message, qsizetype limit) {
    QString oneLine = message;
    oneLine.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    oneLine.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    QByteArray text = oneLine.toUtf8();
    if (text.size() <= limit)
        return text;
    qsizetype cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text.at(cut)) & 0xC0) == 0x80)
        --cut;
    const qsizetype left = text.size() - cut;
    text.truncate(cut);
    return text + " [cut: " + QByteArray::number(left) + " more bytes]";
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writeAll(int fd, const QByteArray& text) {
    for (qsizetype done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.constData() + done, std::size_t(text.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

QString RotatingFileLogSink::defaultPath() {
    return paths().userStateDirectory() + QStringLiteral("/kelvo/ravlek.log");
}

RotatingFileLogSink::RotatingFileLogSink(const QString& path, qint64 maxFileBytes, int rotatedFiles)
    : m_path(path)
    , m_maxFileBytes(maxFileBytes)
    , m_rotatedFiles(rotatedFiles) {}

QByteArray RotatingFileLogSink::line(const LogRecord& record) {
    QByteArray head = timeText(record.time) + ' ' + record.program.toUtf8() + '[' +
                      QByteArray::number(record.processId) + "] " + levelWord(record.type) + ' ' +
                      record.category.toUtf8() + ": ";
    return head + messageText(record.message, kMaxRecordBytes - head.size() - 64) + '\n';
}

bool RotatingFileLogSink::write(const LogRecord& record) {
    const QByteArray text = line(record);
    if (append(text))
        return true;
    // The first record of an installation makes the folder.
    return errno == ENOENT && QDir().mkpath(QFileInfo(m_path).absolutePath()) && append(text);
}

bool RotatingFileLogSink::append(const QByteArray& text) {
    const QByteArray path = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < kAppendAttempts; ++attempt) {
        // The log may tell of patients: it is the user's alone.
        const UniqueFd file(::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
        if (!file.valid())
            return false;
        int locked = -1;
        do {
            locked = ::flock(file.get(), LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        struct stat opened {};
        struct stat named {};
        if (locked != 0 || ::fstat(file.get(), &opened) != 0)
            return false;
        // Another program moved the file aside while this one waited for the lock.
        if (::stat(path.constData(), &named) != 0 || !sameFile(opened, named))
            continue;
        if (opened.st_size > 0 && opened.st_size + text.size() > m_maxFileBytes) {
            rotate();
            continue;
        }
        return writeAll(file.get(), text);
    }
    errno = EAGAIN;
    return false;
}

// Runs while the lock of the full file is held, so only one writer moves the files at a time.
void RotatingFileLogSink::rotate() {
    const auto numbered = [this](int n) {
        return QFile::encodeName(m_path + QLatin1Char('.') + QString::number(n));
    };
    const QByteArray path = QFile::encodeName(m_path);
    if (m_rotatedFiles <= 0) {
        ::unlink(path.constData());
        return;
    }
    for (int n = m_rotatedFiles - 1; n >= 1; --n)
        ::rename(numbered(n).constData(), numbered(n + 1).constData());
    ::rename(path.constData(), numbered(1).constData());
}

} // namespace platform
