#include "platform/LocalWindowBus.h"

#include "platform/LinuxPaths.h"
#include "platform/Processes.h"
#include "platform/UniqueFd.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <list>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// ---------------------------------------------------------------------------------------
// Frames on a window's socket: fixed-size, little-endian (docs/host-protocol.md).

constexpr quint32 FrameMagic = 0x5355424B; // the bytes "KBUS"
constexpr qsizetype RequestSize = 32;
constexpr qsizetype ReplySize = 16;
constexpr quint32 KindMessage = 1;
constexpr quint32 KindActivate = 2;
constexpr quint32 StatusHandled = 0;
constexpr quint32 StatusRefused = 1;
// A client that sends far more than it waits for is not a sender of this protocol.
constexpr qsizetype MaxBufferedRequests = 64 * RequestSize;

constexpr quint32 FirstMessageNumber = 0xC000;
constexpr quint32 LastMessageNumber = 0xFFFF;
constexpr qsizetype MaxMessageNameLength = 255;
constexpr WindowHandle FirstHandle = 0x10000;
// How often a sender that waits without time-out checks that the receiver's process still runs.
constexpr int ReceiverCheckIntervalMs = 1000;

struct Request {
    quint32 kind = 0;
    quint32 handle = 0;
    quint32 msg = 0;
    qint64 wParam = 0;
    qint64 lParam = 0;
};

struct Reply {
    quint32 status = StatusRefused;
    qint64 result = 0;
};

void encodeRequest(const Request& request, char* frame) {
    qToLittleEndian<quint32>(FrameMagic, frame);
    qToLittleEndian<quint32>(request.kind, frame + 4);
    qToLittleEndian<quint32>(request.handle, frame + 8);
    qToLittleEndian<quint32>(request.msg, frame + 12);
    qToLittleEndian<qint64>(request.wParam, frame + 16);
    qToLittleEndian<qint64>(request.lParam, frame + 24);
}

std::optional<Request> decodeRequest(const char* frame) {
    if (qFromLittleEndian<quint32>(frame) != FrameMagic)
        return std::nullopt;
    return Request{qFromLittleEndian<quint32>(frame + 4), qFromLittleEndian<quint32>(frame + 8),
                   qFromLittleEndian<quint32>(frame + 12), qFromLittleEndian<qint64>(frame + 16),
                   qFromLittleEndian<qint64>(frame + 24)};
}

void encodeReply(const Reply& reply, char* frame) {
    qToLittleEndian<quint32>(FrameMagic, frame);
    qToLittleEndian<quint32>(reply.status, frame + 4);
    qToLittleEndian<qint64>(reply.result, frame + 8);
}

std::optional<Reply> decodeReply(const char* frame) {
    if (qFromLittleEndian<quint32>(frame) != FrameMagic)
        return std::nullopt;
    return Reply{qFromLittleEndian<quint32>(frame + 4), qFromLittleEndian<qint64>(frame + 8)};
}

// ---------------------------------------------------------------------------------------
// Small POSIX helpers.

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool fillAddress(const QString& path, sockaddr_un* address) {
    const QByteArray native = QFile::encodeName(path);
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (native.size() >= qsizetype(sizeof(address->sun_path)))
        return false;
    std::memcpy(address->sun_path, native.constData(), native.size());
    return true;
}

// A non-blocking connection to a window's socket; invalid with errno set when refused.
// EAGAIN means the listener is alive but its queue of waiting connections is full.
UniqueFd connectTo(const QString& path) {
    sockaddr_un address;
    if (!fillAddress(path, &address)) {
        errno = ENAMETOOLONG;
        return {};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return {};
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return {};
    return fd;
}

bool sendAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

bool processAlive(qint64 pid) {
    return pid <= 0 || processRunning(pid); // an unknown process: the socket decides
}

// Micro-seconds since the epoch, strictly increasing within this process, so that two
// activations in quick succession keep their order.
qint64 nextActivationStamp() {
    static std::atomic<qint64> last{0};
    using namespace std::chrono;
    const qint64 now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    qint64 previous = last.load();
    qint64 next;
    do {
        next = std::max(now, previous + 1);
    } while (!last.compare_exchange_weak(previous, next));
    return next;
}

// ---------------------------------------------------------------------------------------
// The bus folder and its files.

QString entryPath(const QString& folder, WindowHandle handle) {
    return folder + QLatin1Char('/') + QString::number(handle) + QStringLiteral(".window");
}

QString socketPath(const QString& folder, WindowHandle handle) {
    return folder + QLatin1Char('/') + QString::number(handle) + QStringLiteral(".sock");
}

QString messageTablePath(const QString& folder) {
    return folder + QStringLiteral("/messages");
}

// Creates the folder when missing and makes sure only this user can reach it: another
// user's folder (planted in /tmp, say) is refused rather than used.
bool ensurePrivateFolder(const QString& folder, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Window bus folder %1: %2").arg(folder, why);
        return false;
    };
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return fail(errnoText(errno));
    struct stat status;
    if (::lstat(native.constData(), &status) != 0)
        return fail(errnoText(errno));
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid())
        return fail(QStringLiteral("not a folder of this user"));
    if ((status.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return fail(errnoText(errno));
    return true;
}

QJsonObject entryObject(const WindowInfo& info) {
    return QJsonObject{{QStringLiteral("handle"), info.handle},
                       {QStringLiteral("class"), info.className},
                       {QStringLiteral("title"), info.title},
                       {QStringLiteral("pid"), info.processId},
                       {QStringLiteral("activated"), info.activationStamp}};
}

// Writes the entry to a temporary file and renames it over the old one, so a reader
// always sees a whole entry.
bool writeEntry(const QString& folder, const WindowInfo& info, QString* error) {
    const QString target = entryPath(folder, info.handle);
    const QString temporary =
        folder + QStringLiteral("/.") + QString::number(info.handle) + QStringLiteral(".window.tmp");
    QFile file(temporary);
    const QByteArray content = QJsonDocument(entryObject(info)).toJson(QJsonDocument::Compact) + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(temporary, file.errorString());
        return false;
    }
    file.close();
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(target, errnoText(errno));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

std::optional<WindowInfo> readEntry(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return buswire::parseEntry(file.readAll());
}

void removeEntry(const QString& folder, WindowHandle handle) {
    ::unlink(QFile::encodeName(entryPath(folder, handle)).constData());
    ::unlink(QFile::encodeName(socketPath(folder, handle)).constData());
}

// ---------------------------------------------------------------------------------------
// The table of registered message numbers: one line "<number> <name>" per message.

struct MessageCache {
    QMutex mutex;
    QHash<QString, buswire::MessageTable> byFolder;
};

MessageCache& messageCache() {
    static MessageCache cache;
    return cache;
}

QByteArray readAll(int fd) {
    QByteArray content;
    char chunk[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        content.append(chunk, got);
    }
    return content;
}

bool lockFile(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

bool validMessageName(const QString& name) {
    return !name.isEmpty() && name.size() <= MaxMessageNameLength && !name.contains(QLatin1Char('\n')) &&
           !name.contains(QLatin1Char('\r'));
}

quint32 registerMessageName(const QString& folder, const QString& name) {
    if (!validMessageName(name))
        return 0;
    const QString folded = name.toCaseFolded();
    MessageCache& cache = messageCache();
    QMutexLocker locker(&cache.mutex);
    if (const quint32 known = cache.byFolder.value(folder).byFoldedName.value(folded))
        return known;

    if (!ensurePrivateFolder(folder, nullptr))
        return 0;
    const UniqueFd fd(
        ::open(QFile::encodeName(messageTablePath(folder)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid() || !lockFile(fd.get(), LOCK_EX))
        return 0;
    buswire::MessageTable& names = cache.byFolder[folder];
    const QByteArray content = readAll(fd.get());
    const qsizetype complete = buswire::parseMessageTable(content, &names);
    if (const quint32 known = names.byFoldedName.value(folded))
        return known;

    quint32 number = FirstMessageNumber;
    for (auto it = names.byNumber.cbegin(); it != names.byNumber.cend(); ++it)
        number = std::max(number, it.key() + 1);
    if (number > LastMessageNumber)
        return 0;
    const QByteArray line = QByteArray::number(number) + ' ' + name.toUtf8() + '\n';
    if (::ftruncate(fd.get(), complete) != 0 ||
        ::pwrite(fd.get(), line.constData(), line.size(), complete) != ssize_t(line.size()))
        return 0;
    names.byFoldedName.insert(folded, number);
    names.byNumber.insert(number, name);
    return number;
}

QString registeredMessageName(const QString& folder, quint32 number) {
    MessageCache& cache = messageCache();
    QMutexLocker locker(&cache.mutex);
    buswire::MessageTable& names = cache.byFolder[folder];
    if (!names.byNumber.contains(number)) {
        const UniqueFd fd(
            ::open(QFile::encodeName(messageTablePath(folder)).constData(), O_RDONLY | O_CLOEXEC));
        if (fd.valid() && lockFile(fd.get(), LOCK_SH))
            buswire::parseMessageTable(readAll(fd.get()), &names);
    }
    return names.byNumber.value(number);
}

// ---------------------------------------------------------------------------------------
// The global atom table: one file "<atom>.atom" per atom, a JSON object with the text and the
// process that added it.

constexpr quint32 FirstAtom = 0xC000;
constexpr quint32 LastAtom = 0xFFFF;
constexpr int AtomAttempts = 256;

QString atomPath(const QString& folder, quint32 atom) {
    return folder + QLatin1Char('/') + QString::number(atom) + QStringLiteral(".atom");
}

bool validAtom(quint32 atom) {
    return atom >= FirstAtom && atom <= LastAtom;
}

std::optional<QJsonObject> readAtom(const QString& folder, quint32 atom) {
    QFile file(atomPath(folder, atom));
    if (!validAtom(atom) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject() || !document.object().value(u"text").isString())
        return std::nullopt;
    return document.object();
}

// An atom whose process has ended, or that is no atom of this protocol, is free again.
bool staleAtom(const QString& folder, quint32 atom) {
    const std::optional<QJsonObject> object = readAtom(folder, atom);
    if (!object)
        return QFileInfo::exists(atomPath(folder, atom));
    const qint64 pid = object->value(u"pid").toInteger();
    return pid > 0 && !processRunning(pid);
}

bool writeNewFile(const QString& path, const QByteArray& content) {
    const UniqueFd fd(
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return fd.valid() && ::write(fd.get(), content.constData(), size_t(content.size())) == content.size();
}

quint32 addAtom(const QString& folder, const QString& text) {
    if (text.size() > WindowBus::kMaxAtomLength || !ensurePrivateFolder(folder, nullptr))
        return 0;
    const QByteArray content = QJsonDocument(QJsonObject{{QStringLiteral("pid"), qint64(::getpid())},
                                                         {QStringLiteral("text"), text}})
                                   .toJson(QJsonDocument::Compact) +
                               '\n';
    // Written whole under a private name, then linked to the atom's name: readers never see
    // half an atom, and the link fails when the number is taken.
    const QString temporary = QStringLiteral("%1/.atom-%2-%3.tmp")
                                  .arg(folder)
                                  .arg(::getpid())
                                  .arg(QRandomGenerator::global()->generate());
    if (!writeNewFile(temporary, content)) {
        ::unlink(QFile::encodeName(temporary).constData());
        return 0;
    }
    quint32 added = 0;
    for (int attempt = 0; attempt < AtomAttempts && added == 0; ++attempt) {
        const quint32 atom = QRandomGenerator::global()->bounded(FirstAtom, LastAtom + 1);
        const QByteArray target = QFile::encodeName(atomPath(folder, atom));
        if (::link(QFile::encodeName(temporary).constData(), target.constData()) == 0)
            added = atom;
        else if (errno != EEXIST)
            break;
        else if (staleAtom(folder, atom))
            ::unlink(target.constData());
    }
    ::unlink(QFile::encodeName(temporary).constData());
    return added;
}

// ---------------------------------------------------------------------------------------
// A window registered by this process.

class LocalWindow;

// Every window of this process, so that a thread waiting in its own send can answer the
// messages sent to its windows, and a send to a window of the same thread becomes a call.
struct LocalWindowTable {
    QMutex mutex;
    QList<LocalWindow*> windows;
};

LocalWindowTable& localWindows() {
    static LocalWindowTable table;
    return table;
}

class LocalWindow final : public QObject, public std::enable_shared_from_this<LocalWindow> {
public:
    LocalWindow(const QString& folder, const WindowDefinition& definition)
        : m_folder(folder)
        , m_handler(definition.handler)
        , m_widget(definition.widget) {
        m_info.className = definition.className;
        m_info.title = definition.title;
        m_info.processId = ::getpid();
    }

    ~LocalWindow() override { close(); }

    bool open(QString* error) {
        if (!ensurePrivateFolder(m_folder, error) || !listen(error))
            return false;
        m_info.activationStamp = nextActivationStamp();
        {
            LocalWindowTable& table = localWindows();
            QMutexLocker locker(&table.mutex);
            table.windows.append(this);
        }
        if (!writeEntry(m_folder, m_info, error))
            return false;
        if (m_widget)
            m_widget->installEventFilter(this);
        return true;
    }

    // Takes the window off the bus. Connections whose request is being answered stay
    // open until the answer is sent.
    void close() {
        if (m_closed)
            return;
        m_closed = true;
        {
            LocalWindowTable& table = localWindows();
            QMutexLocker locker(&table.mutex);
            table.windows.removeOne(this);
        }
        if (m_widget)
            m_widget->removeEventFilter(this);
        if (m_info.handle > 0) {
            ::unlink(QFile::encodeName(entryPath(m_folder, m_info.handle)).constData());
            ::unlink(QFile::encodeName(socketPath(m_folder, m_info.handle)).constData());
        }
        if (m_listenNotifier) {
            m_listenNotifier->setEnabled(false);
            m_listenNotifier->deleteLater();
            m_listenNotifier = nullptr;
        }
        m_listen.reset();
        for (Connection& connection : m_connections)
            if (!connection.busy)
                closeConnection(connection);
    }

    const QString& folder() const { return m_folder; }
    WindowHandle handle() const { return m_info.handle; }
    QString title() const { return m_info.title; }

    void setTitle(const QString& title) {
        m_info.title = title;
        rewriteEntry();
    }

    void noteActivated() {
        m_info.activationStamp = nextActivationStamp();
        rewriteEntry();
    }

    Reply answer(const Request& request) {
        if (request.handle != quint32(m_info.handle) || m_closed)
            return {};
        switch (request.kind) {
        case KindMessage:
            return {StatusHandled, m_handler ? m_handler(request.msg, request.wParam, request.lParam) : 0};
        case KindActivate:
            return {StatusHandled, bringForward() ? 1 : 0};
        default:
            return {};
        }
    }

    // The sockets to watch while this window's thread waits in a send of its own; when one
    // becomes readable, `serveReadable` answers it.
    void addWaitSockets(std::vector<pollfd>* fds) const {
        if (m_listen.valid())
            fds->push_back(pollfd{m_listen.get(), POLLIN, 0});
        for (const Connection& connection : m_connections)
            if (connection.fd.valid())
                fds->push_back(pollfd{connection.fd.get(), POLLIN, 0});
    }

    void serveReadable(int fd) {
        const std::shared_ptr<LocalWindow> keepAlive = shared_from_this();
        pruneConnections();
        if (fd == m_listen.get()) {
            acceptPending();
            return;
        }
        for (Connection& connection : m_connections)
            if (connection.fd.get() == fd) {
                readFrom(connection);
                return;
            }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_widget && event->type() == QEvent::WindowActivate)
            noteActivated();
        return false;
    }

private:
    struct Connection {
        UniqueFd fd;
        QSocketNotifier* notifier = nullptr;
        QByteArray buffer;
        bool busy = false; // a request of this connection is being answered
    };

    bool listen(QString* error) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const WindowHandle handle = QRandomGenerator::global()->bounded(FirstHandle, INT32_MAX);
            const QString path = socketPath(m_folder, handle);
            sockaddr_un address;
            if (!fillAddress(path, &address)) {
                if (error)
                    *error = QStringLiteral("Socket path too long: %1").arg(path);
                return false;
            }
            UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            const bool bound = fd.valid() && ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address),
                                                    sizeof(address)) == 0;
            if (!bound && errno == EADDRINUSE)
                continue; // another window's handle, or a dead one's socket
            const bool listening = bound && ::listen(fd.get(), SOMAXCONN) == 0;
            if (!listening) {
                if (error)
                    *error = QStringLiteral("Cannot listen on %1: %2").arg(path, errnoText(errno));
                if (bound)
                    ::unlink(QFile::encodeName(path).constData());
                return false;
            }
            m_info.handle = handle;
            m_listen = std::move(fd);
            m_listenNotifier = new QSocketNotifier(m_listen.get(), QSocketNotifier::Read, this);
            connect(m_listenNotifier, &QSocketNotifier::activated, this,
                    [this](QSocketDescriptor socket) { serveReadable(int(socket)); });
            return true;
        }
        if (error)
            *error = QStringLiteral("No free window handle in %1").arg(m_folder);
        return false;
    }

    void acceptPending() {
        while (m_listen.valid()) {
            UniqueFd fd(::accept4(m_listen.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!fd.valid()) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return; // EAGAIN: nobody else is waiting
            }
            Connection& connection = m_connections.emplace_back();
            connection.fd = std::move(fd);
            connection.notifier = new QSocketNotifier(connection.fd.get(), QSocketNotifier::Read, this);
            connect(connection.notifier, &QSocketNotifier::activated, this,
                    [this](QSocketDescriptor socket) { serveReadable(int(socket)); });
            // The request usually follows the connect at once: answer it without a trip
            // through the event loop.
            readFrom(connection);
        }
    }

    void readFrom(Connection& connection) {
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::recv(connection.fd.get(), chunk, sizeof(chunk), 0);
            if (got > 0) {
                connection.buffer.append(chunk, got);
                if (connection.buffer.size() > MaxBufferedRequests) {
                    closeConnection(connection);
                    return;
                }
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0 || errno != EAGAIN) {
                // The sender hung up (or gave up waiting): nobody is left to answer.
                closeConnection(connection);
                return;
            }
            break;
        }
        serveRequests(connection);
    }

    // Answers the complete requests in the buffer, in order. A request that arrives while
    // one of the same connection is being answered waits for the outer loop.
    void serveRequests(Connection& connection) {
        if (connection.busy)
            return;
        connection.busy = true;
        while (connection.fd.valid() && connection.buffer.size() >= RequestSize) {
            const std::optional<Request> request = decodeRequest(connection.buffer.constData());
            connection.buffer.remove(0, RequestSize);
            if (!request) {
                closeConnection(connection);
                break;
            }
            const Reply reply = answer(*request);
            char frame[ReplySize];
            encodeReply(reply, frame);
            if (!connection.fd.valid() || !sendAll(connection.fd.get(), frame, ReplySize))
                closeConnection(connection);
        }
        connection.busy = false;
        if (m_closed)
            closeConnection(connection);
    }

    void closeConnection(Connection& connection) {
        if (connection.notifier) {
            connection.notifier->setEnabled(false);
            connection.notifier->deleteLater();
            connection.notifier = nullptr;
        }
        connection.fd.reset();
        connection.buffer.clear();
    }

    // Forgets closed connections; a busy one may still be referred to further up the stack.
    void pruneConnections() {
        m_connections.remove_if(
            [](const Connection& connection) { return !connection.fd.valid() && !connection.busy; });
    }

    bool bringForward() {
        QWidget* widget = m_widget;
        if (!widget)
            return false;
        widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
        widget->show();
        widget->raise();
        widget->activateWindow();
        noteActivated();
        return true;
    }

    void rewriteEntry() {
        QString error;
        if (!m_closed && !writeEntry(m_folder, m_info, &error))
            qWarning("%s", qUtf8Printable(error));
    }

    const QString m_folder;
    const MessageHandler m_handler;
    const QPointer<QWidget> m_widget;
    WindowInfo m_info;
    UniqueFd m_listen;
    QSocketNotifier* m_listenNotifier = nullptr;
    std::list<Connection> m_connections; // stable references while requests are answered
    bool m_closed = false;
};

class LocalRegistration final : public WindowRegistration {
public:
    explicit LocalRegistration(std::shared_ptr<LocalWindow> window)
        : m_window(std::move(window)) {}
    ~LocalRegistration() override { m_window->close(); }

    WindowHandle handle() const override { return m_window->handle(); }
    QString title() const override { return m_window->title(); }
    void setTitle(const QString& title) override { m_window->setTitle(title); }
    void noteActivated() override { m_window->noteActivated(); }

private:
    std::shared_ptr<LocalWindow> m_window;
};

std::shared_ptr<LocalWindow> windowOfCurrentThread(const QString& folder, WindowHandle handle) {
    LocalWindowTable& table = localWindows();
    QMutexLocker locker(&table.mutex);
    for (LocalWindow* window : std::as_const(table.windows))
        if (window->handle() == handle && window->folder() == folder &&
            window->thread() == QThread::currentThread())
            return window->shared_from_this();
    return nullptr;
}

bool isLocalWindow(const QString& folder, WindowHandle handle) {
    LocalWindowTable& table = localWindows();
    QMutexLocker locker(&table.mutex);
    return std::any_of(table.windows.cbegin(), table.windows.cend(), [&](const LocalWindow* window) {
        return window->handle() == handle && window->folder() == folder;
    });
}

std::vector<std::shared_ptr<LocalWindow>> windowsOfCurrentThread() {
    std::vector<std::shared_ptr<LocalWindow>> result;
    LocalWindowTable& table = localWindows();
    QMutexLocker locker(&table.mutex);
    for (LocalWindow* window : std::as_const(table.windows))
        if (window->thread() == QThread::currentThread())
            result.push_back(window->shared_from_this());
    return result;
}

// Waits for the reply on `fd` and, meanwhile, answers the requests sent to the windows of
// this thread (as a thread waiting in SendMessage does on Windows): only those, so no
// timer, input or other event of the caller runs during a send.
std::optional<qint64> waitForReply(int fd, const QDeadlineTimer& deadline, qint64 receiverPid) {
    char frame[ReplySize];
    qsizetype received = 0;
    QDeadlineTimer nextReceiverCheck(ReceiverCheckIntervalMs);
    for (;;) {
        const std::vector<std::shared_ptr<LocalWindow>> own = windowsOfCurrentThread();
        std::vector<pollfd> fds{pollfd{fd, POLLIN, 0}};
        std::vector<std::size_t> ownerOf{0}; // index into `own` for each entry of `fds`
        for (std::size_t i = 0; i < own.size(); ++i) {
            own[i]->addWaitSockets(&fds);
            ownerOf.resize(fds.size(), i);
        }
        const qint64 remaining = deadline.remainingTime();
        const int timeout =
            int(remaining < 0 ? ReceiverCheckIntervalMs : std::min<qint64>(remaining, INT_MAX));
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready > 0 && fds[0].revents != 0) {
            const ssize_t got = ::recv(fd, frame + received, size_t(ReplySize - received), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                return std::nullopt; // the receiver is gone
            if (got > 0 && (received += got) == ReplySize) {
                const std::optional<Reply> reply = decodeReply(frame);
                if (!reply || reply->status != StatusHandled)
                    return std::nullopt;
                return reply->result;
            }
        }
        for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i)
            if (fds[i].revents != 0)
                own[ownerOf[i]]->serveReadable(fds[i].fd);
        if (deadline.hasExpired())
            return std::nullopt;
        if (deadline.isForever() && nextReceiverCheck.hasExpired()) {
            // A receiver that died while a child process still holds its socket never answers.
            if (!processAlive(receiverPid))
                return std::nullopt;
            nextReceiverCheck.setRemainingTime(ReceiverCheckIntervalMs);
        }
    }
}

// A window whose process has ended, or whose socket nobody listens on any more.
bool isLive(const QString& folder, const WindowInfo& info) {
    if (isLocalWindow(folder, info.handle))
        return true;
    if (!processAlive(info.processId))
        return false;
    return connectTo(socketPath(folder, info.handle)).valid() || errno == EAGAIN;
}

// The live windows of the folder; entries of dead windows found on the way are removed.
QList<WindowInfo> liveWindows(const QString& folder) {
    QList<WindowInfo> windows;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.window")}, QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const WindowHandle handle = name.chopped(7).toInt(&ok); // drop ".window"
        if (!ok || handle <= 0)
            continue;
        const std::optional<WindowInfo> info = readEntry(folder + QLatin1Char('/') + name);
        WindowInfo probe = info.value_or(WindowInfo{});
        probe.handle = handle;
        if (!isLive(folder, probe))
            removeEntry(folder, handle);
        else if (info && info->handle == handle)
            windows.append(*info);
    }
    std::sort(windows.begin(), windows.end(), [](const WindowInfo& a, const WindowInfo& b) {
        return a.activationStamp != b.activationStamp ? a.activationStamp > b.activationStamp
                                                      : a.handle > b.handle;
    });
    return windows;
}

} // namespace

// ---------------------------------------------------------------------------------------

namespace buswire {

std::optional<WindowInfo> parseEntry(const QByteArray& content) {
    const QJsonObject object = QJsonDocument::fromJson(content).object();
    WindowInfo info;
    info.handle = WindowHandle(object.value(u"handle").toInteger());
    info.className = object.value(u"class").toString();
    info.title = object.value(u"title").toString();
    info.processId = object.value(u"pid").toInteger();
    info.activationStamp = object.value(u"activated").toInteger();
    if (info.handle <= 0)
        return std::nullopt;
    return info;
}

qsizetype parseMessageTable(const QByteArray& content, MessageTable* names) {
    const qsizetype complete = content.lastIndexOf('\n') + 1;
    for (const QByteArray& line : content.left(complete).split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        bool ok = false;
        const quint32 number = line.left(space).toUInt(&ok);
        const QString name = QString::fromUtf8(line.mid(space + 1));
        if (!ok || number < FirstMessageNumber || number > LastMessageNumber || name.isEmpty())
            continue;
        // Should a name appear twice (a careless writer elsewhere), its first number counts.
        if (!names->byFoldedName.contains(name.toCaseFolded()))
            names->byFoldedName.insert(name.toCaseFolded(), number);
        names->byNumber.insert(number, name);
    }
    return complete;
}

} // namespace buswire

std::unique_ptr<WindowBus> WindowBus::makeDefault() {
    return std::make_unique<LocalWindowBus>();
}

LocalWindowBus::LocalWindowBus(const QString& folder)
    : m_fixedFolder(folder) {}

QString LocalWindowBus::defaultFolder() {
    const QString runtime = xdgRuntimeDirectory();
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/kelvo-bus");
    return QStringLiteral("/tmp/kelvo-bus-%1").arg(::getuid());
}

QString LocalWindowBus::folder() const {
    return m_fixedFolder.isEmpty() ? defaultFolder() : m_fixedFolder;
}

quint32 LocalWindowBus::registerWindowMessage(const QString& name) {
    return registerMessageName(folder(), name);
}

QString LocalWindowBus::messageName(quint32 msg) {
    return registeredMessageName(folder(), msg);
}

std::unique_ptr<WindowRegistration> LocalWindowBus::registerWindow(const WindowDefinition& definition,
                                                                   QString* error) {
    auto window = std::make_shared<LocalWindow>(folder(), definition);
    if (!window->open(error))
        return nullptr;
    return std::make_unique<LocalRegistration>(std::move(window));
}

WindowHandle LocalWindowBus::findWindow(const QString& className, const QString& title) {
    const auto matches = [](const QString& wanted, const QString& actual) {
        return wanted.isEmpty() || wanted.compare(actual, Qt::CaseInsensitive) == 0;
    };
    for (const WindowInfo& window : liveWindows(folder()))
        if (matches(className, window.className) && matches(title, window.title))
            return window.handle;
    return 0;
}

QList<WindowInfo> LocalWindowBus::enumWindows() {
    return liveWindows(folder());
}

bool LocalWindowBus::isWindow(WindowHandle window) {
    if (window <= 0)
        return false;
    const QString dir = folder();
    const std::optional<WindowInfo> info = readEntry(entryPath(dir, window));
    if (!info)
        return false;
    if (!isLive(dir, *info)) {
        removeEntry(dir, window);
        return false;
    }
    return true;
}

qint64 LocalWindowBus::sendMessage(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam) {
    if (msg == 0)
        return 0;
    return transact(KindMessage, window, msg, wParam, lParam, -1).value_or(0);
}

bool LocalWindowBus::sendMessageTimeout(WindowHandle window, quint32 msg, qint64 wParam, qint64 lParam,
                                        int timeoutMs, qint64* result) {
    const std::optional<qint64> answer =
        msg == 0 ? std::nullopt : transact(KindMessage, window, msg, wParam, lParam, std::max(timeoutMs, 0));
    if (result)
        *result = answer.value_or(0);
    return answer.has_value();
}

bool LocalWindowBus::activate(WindowHandle window, int timeoutMs) {
    return transact(KindActivate, window, 0, 0, 0, std::max(timeoutMs, 0)).value_or(0) == 1;
}

// timeoutMs < 0 waits for as long as the receiver lives.
std::optional<qint64> LocalWindowBus::transact(quint32 kind, WindowHandle window, quint32 msg, qint64 wParam,
                                               qint64 lParam, int timeoutMs) {
    if (window <= 0)
        return std::nullopt;
    const QString dir = folder();
    const Request request{kind, quint32(window), msg, wParam, lParam};
    // A window of this very thread is called directly, as Windows does.
    if (const std::shared_ptr<LocalWindow> own = windowOfCurrentThread(dir, window)) {
        const Reply reply = own->answer(request);
        return reply.status == StatusHandled ? std::optional(reply.result) : std::nullopt;
    }

    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    const std::optional<WindowInfo> entry = readEntry(entryPath(dir, window));
    if (!entry)
        return std::nullopt;
    if (!isLocalWindow(dir, window) && !processAlive(entry->processId)) {
        removeEntry(dir, window);
        return std::nullopt;
    }
    UniqueFd fd = connectTo(socketPath(dir, window));
    while (!fd.valid() && errno == EAGAIN && !deadline.hasExpired()) {
        ::poll(nullptr, 0, 1); // the receiver's queue of connections is full: it is alive but busy
        fd = connectTo(socketPath(dir, window));
    }
    if (!fd.valid()) {
        if (errno == ECONNREFUSED || errno == ENOENT)
            removeEntry(dir, window);
        return std::nullopt;
    }
    char frame[RequestSize];
    encodeRequest(request, frame);
    if (!sendAll(fd.get(), frame, RequestSize))
        return std::nullopt;
    return waitForReply(fd.get(), deadline, entry->processId);
}

quint32 LocalWindowBus::globalAddAtom(const QString& text) {
    return addAtom(folder(), text);
}

std::optional<QString> LocalWindowBus::globalGetAtomName(quint32 atom) {
    const std::optional<QJsonObject> object = readAtom(folder(), atom);
    if (!object)
        return std::nullopt;
    return object->value(u"text").toString();
}

void LocalWindowBus::globalDeleteAtom(quint32 atom) {
    if (validAtom(atom))
        ::unlink(QFile::encodeName(atomPath(folder(), atom)).constData());
}

} // namespace platform
