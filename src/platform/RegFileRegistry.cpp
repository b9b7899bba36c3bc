#include "platform/RegFileRegistry.h"
#include "platform/UniqueFd.h"

#include "platform/Paths.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The registry's limit for a value name.
constexpr qsizetype kMaxValueNameLength = 16383;

// Key and value names have no escaped form in a .reg file, so they must fit on a line.
bool isStorableKeyName(QStringView name) {
    return name.size() <= regfile::kMaxKeyNameLength && regfile::fitsOnLine(name);
}

bool isStorableValueName(QStringView name) {
    return name.size() <= kMaxValueNameLength && regfile::fitsOnLine(name);
}

QString fold(const QString& name) {
    return name.toCaseFolded();
}

// The parts of a key path; empty parts (doubled or trailing "\") are dropped.
std::optional<QStringList> splitKeyPath(const QString& keyPath) {
    const QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() > regfile::kMaxKeyDepth)
        return std::nullopt;
    for (const QString& part : parts) {
        if (!isStorableKeyName(part))
            return std::nullopt;
    }
    return parts;
}

// One key of a hive in memory. Names keep the spelling first used; look-ups go by the
// case-folded name. Subkeys are held in a map so that a file of many keys loads in
// n log n, whatever their order.
struct KeyNode {
    QString name;
    bool open = false; // machine hive: the key's values and subkeys live in the open-keys hive
    std::map<QString, std::unique_ptr<KeyNode>> children; // by folded name
    std::map<quint64, RegValue> values;                   // in the order they were first stored
    QHash<QString, quint64> index;                        // folded value name -> key in `values`
    quint64 nextPlace = 0;

    KeyNode() = default;
    explicit KeyNode(const QString& keyName)
        : name(keyName) {}
    KeyNode(const KeyNode& other)
        : name(other.name)
        , open(other.open)
        , values(other.values)
        , index(other.index)
        , nextPlace(other.nextPlace) {
        for (const auto& [folded, child] : other.children)
            children.emplace(folded, std::make_unique<KeyNode>(*child));
    }
    KeyNode& operator=(const KeyNode& other) {
        if (this != &other)
            *this = KeyNode(other);
        return *this;
    }
    KeyNode(KeyNode&&) noexcept = default;
    KeyNode& operator=(KeyNode&&) noexcept = default;
    ~KeyNode() = default;

    const RegValue* findValue(const QString& valueName) const {
        const auto it = index.constFind(fold(valueName));
        return it == index.cend() ? nullptr : &values.at(*it);
    }

    QList<RegValue> valueList() const {
        QList<RegValue> list;
        list.reserve(qsizetype(values.size()));
        for (const auto& [place, value] : values)
            list.append(value);
        return list;
    }

    KeyNode* child(const QString& foldedName) const {
        const auto it = children.find(foldedName);
        return it == children.end() ? nullptr : it->second.get();
    }

    KeyNode& ensureChild(const QString& childName, bool& created) {
        const auto [it, inserted] = children.try_emplace(fold(childName));
        if (inserted) {
            it->second = std::make_unique<KeyNode>(childName);
            created = true;
        }
        return *it->second;
    }

    bool removeChild(const QString& foldedName) { return children.erase(foldedName) > 0; }

    // True when the stored data changed.
    bool store(const RegValue& value) {
        const QString key = fold(value.name);
        const auto it = index.constFind(key);
        if (it == index.cend()) {
            index.insert(key, nextPlace);
            values.emplace(nextPlace++, value);
            return true;
        }
        RegValue& stored = values.at(*it);
        if (stored.type == value.type && stored.data == value.data)
            return false;
        stored.type = value.type; // the name keeps the spelling first used
        stored.data = value.data;
        return true;
    }

    bool removeValue(const QString& valueName) {
        const auto it = index.find(fold(valueName));
        if (it == index.end())
            return false;
        values.erase(*it);
        index.erase(it);
        return true;
    }
};

const KeyNode* findKey(const KeyNode& root, const QStringList& parts) {
    const KeyNode* node = &root;
    for (const QString& part : parts) {
        node = node->child(fold(part));
        if (!node)
            return nullptr;
    }
    return node;
}

KeyNode* findKey(KeyNode& root, const QStringList& parts) {
    return const_cast<KeyNode*>(findKey(std::as_const(root), parts));
}

KeyNode& ensureKey(KeyNode& root, const QStringList& parts, bool& created) {
    KeyNode* node = &root;
    for (const QString& part : parts)
        node = &node->ensureChild(part, created);
    return *node;
}

// Removes the key at `parts` with everything below it; false when there is none.
bool removeKey(KeyNode& root, const QStringList& parts) {
    KeyNode* parent = findKey(root, parts.mid(0, parts.size() - 1));
    return parent && parent->removeChild(fold(parts.last()));
}

struct ChangeOutcome {
    int error = 0;         // errno value; 0 when the change could be made
    bool changed = false;  // the tree differs from before
    bool targeted = false; // a change of the batch was meant for this tree
};

// Applies one change to a tree. `strict` makes removing something missing an error
// (single operations); a batch, like an imported file, passes over it.
void applyChange(KeyNode& root, const RegChange& change, const QStringList& parts, bool strict,
                 ChangeOutcome& outcome) {
    outcome.targeted = true;
    switch (change.kind) {
    case RegChange::Kind::CreateKey: {
        bool created = false;
        ensureKey(root, parts, created);
        outcome.changed |= created;
        return;
    }
    case RegChange::Kind::SetValue: {
        if (!isStorableValueName(change.value.name)) {
            outcome.error = EINVAL;
            return;
        }
        bool created = false;
        KeyNode& key = ensureKey(root, parts, created);
        outcome.changed |= key.store(change.value) || created;
        return;
    }
    case RegChange::Kind::DeleteValue: {
        KeyNode* key = findKey(root, parts);
        const bool removed = key && key->removeValue(change.value.name);
        outcome.changed |= removed;
        if (!removed && strict)
            outcome.error = ENOENT;
        return;
    }
    case RegChange::Kind::DeleteKey: {
        if (parts.isEmpty()) {
            outcome.error = EINVAL; // the hive itself cannot be deleted
            return;
        }
        const bool removed = removeKey(root, parts);
        outcome.changed |= removed;
        if (!removed && strict)
            outcome.error = ENOENT;
        return;
    }
    }
}

// How deep along `parts` the first key open to every user lies (1 for the first part), or
// 0 when the path passes none.
qsizetype openDepth(const KeyNode& machine, const QStringList& parts) {
    const KeyNode* node = &machine;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        node = node->child(fold(parts[i]));
        if (!node)
            return 0;
        if (node->open)
            return i + 1;
    }
    return 0;
}

// Applies one change to the machine hive, whose keys open to every user keep their values
// and subkeys in the open-keys hive:
// - a change at or below an open key goes to the open-keys hive; deleting the open key
//   itself takes it out of the machine hive, and its contents out of the open-keys hive;
// - a new key made open to every user is made in the machine hive, marked there, and
//   started afresh in the open-keys hive;
// - everything else is the machine hive's own.
void applyMachineChange(KeyNode& machine, KeyNode& open, const RegChange& change, const QStringList& parts,
                        bool strict, bool everyoneMayWrite, ChangeOutcome& inMachine, ChangeOutcome& inOpen) {
    const qsizetype depth = openDepth(machine, parts);
    const bool deletesKey = change.kind == RegChange::Kind::DeleteKey;
    if (depth > 0 && !(deletesKey && depth == parts.size())) {
        applyChange(open, change, parts, strict, inOpen);
        return;
    }
    if (deletesKey) {
        applyChange(machine, change, parts, strict, inMachine);
        if (!inMachine.error && !parts.isEmpty() && removeKey(open, parts))
            inOpen.changed = inOpen.targeted = true;
        return;
    }
    const bool creates =
        change.kind == RegChange::Kind::CreateKey || change.kind == RegChange::Kind::SetValue;
    if (creates && everyoneMayWrite && !parts.isEmpty() && !findKey(std::as_const(machine), parts)) {
        bool created = false;
        ensureKey(machine, parts, created).open = true;
        inMachine.changed = inMachine.targeted = true;
        removeKey(open, parts);
        applyChange(open, {RegChange::Kind::CreateKey, change.keyPath, {}}, parts, strict, inOpen);
        inOpen.changed = true;
        if (change.kind == RegChange::Kind::SetValue)
            applyChange(open, change, parts, strict, inOpen);
        return;
    }
    applyChange(machine, change, parts, strict, inMachine);
}

void collectSections(const KeyNode& node, const QString& keyName, QList<regfile::Section>& out) {
    regfile::Section section;
    section.keyName = keyName;
    section.openToEveryone = node.open;
    // The default value first, as the registry editor writes it.
    for (const auto& [place, value] : node.values) {
        if (value.name.isEmpty())
            section.entries.append({value, false});
    }
    for (const auto& [place, value] : node.values) {
        if (!value.name.isEmpty())
            section.entries.append({value, false});
    }
    if (!section.entries.isEmpty() || keyName.contains(QLatin1Char('\\')))
        out.append(section);
    for (const auto& [folded, child] : node.children)
        collectSections(*child, keyName + QLatin1Char('\\') + child->name, out);
}

QString errorText(int error) {
    return qt_error_string(error);
}

RegResult failure(int error) {
    return {false, errorText(error)};
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Reads at most `limit` bytes; a longer file shows as one byte longer than the limit.
int readAll(int fd, QByteArray& out, qsizetype limit) {
    char buffer[65536];
    while (out.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        out.append(buffer, std::min<qsizetype>(n, limit + 1 - out.size()));
    }
    return 0;
}

int writeAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        left -= n;
    }
    return 0;
}

// Makes a folder and its missing parents (readable by everyone). The folder itself, when this
// call makes it, gets exactly `mode`, whatever the process's umask.
int makeFolder(const QByteArray& folder, mode_t mode) {
    if (::mkdir(folder.constData(), 0700) == 0)
        return ::chmod(folder.constData(), mode) == 0 ? 0 : errno;
    if (errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash <= 0)
        return ENOENT;
    if (const int error = makeFolder(folder.left(slash), 0755))
        return error;
    return makeFolder(folder, mode);
}

int syncFolder(const QByteArray& folder) {
    UniqueFd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    return ::fsync(fd.get()) == 0 ? 0 : errno;
}

QString folderOf(const QString& file) {
    return file.left(file.lastIndexOf(QLatin1Char('/')));
}

// Takes the exclusive lock, waiting at most `timeout` for another process to let it go;
// ETIMEDOUT when it does not.
int lockExclusive(int fd, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    qint64 pauseMs = 1;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return errno;
        if (deadline.hasExpired())
            return ETIMEDOUT;
        QThread::msleep(std::min(pauseMs, std::max<qint64>(deadline.remainingTime(), 1)));
        pauseMs = std::min<qint64>(pauseMs * 2, 50);
    }
}

// The files of the registry. The machine hive's keys open to every user live in a file of
// their own, in a folder of their own, so that neither the machine hive nor its folder is
// ever writable by other users.
enum class Store { User, Machine, Open };
constexpr int kStores = 3;

int indexOf(Store store) {
    return int(store);
}

// How each file is kept: its folder, the file itself and its lock.
struct StoreModes {
    mode_t folder;
    mode_t file;
    mode_t lock;
};

StoreModes modesOf(Store store) {
    switch (store) {
    case Store::User:
        return {0700, 0600, 0600};
    case Store::Machine:
        // Everyone reads the machine hive; only its owner writes it, or takes its lock.
        return {0755, 0644, 0600};
    case Store::Open:
        // Every user may rename a new file over the old one: no sticky bit.
        return {0777, 0666, 0666};
    }
    return {0700, 0600, 0600};
}

// Opens, creating when missing, a hive's lock file. A lock file of ours is brought to the
// mode its store asks for; one that may not be opened for writing is opened for reading,
// which is all flock needs.
int openLockFile(const QByteArray& path, mode_t mode) {
    const int flags = O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | flags, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        return fd;
    }
    if (errno != EEXIST)
        return -1;
    fd = ::open(path.constData(), O_RDWR | flags);
    if (fd < 0 && errno == EACCES) {
        fd = ::open(path.constData(), O_RDONLY | flags);
        if (fd < 0)
            errno = EACCES; // the refusal is what the caller needs to hear
        return fd;
    }
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 07777) != mode)
        ::fchmod(fd, mode);
    return fd;
}

// Takes away the write permission of group and others from a folder of ours (an earlier
// version opened the machine folder to every user).
void closeToOthers(const QByteArray& folder) {
    struct stat st;
    if (::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 0022) != 0)
        ::chmod(folder.constData(), st.st_mode & 07755);
}

int renameWithoutReplacing(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE.
    if (::access(to.constData(), F_OK) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

} // namespace

QString RegFileRegistry::hiveFile(Hive hive) {
    // The folders follow the environment at every call (docs/configuration.md).
    const QString folder = hive == Hive::CurrentUser
                               ? paths().userConfigDirectory() + QStringLiteral("/kelvo")
                               : paths().machineDirectory();
    return folder + QLatin1Char('/') + hiveName(hive) + QStringLiteral(".reg");
}

QString RegFileRegistry::openKeysFile() {
    return paths().openKeysDirectory() + QLatin1Char('/') + hiveName(Hive::LocalMachine) +
           QStringLiteral(".reg");
}

namespace {

QString storeFile(Store store) {
    switch (store) {
    case Store::User:
        return RegFileRegistry::hiveFile(Hive::CurrentUser);
    case Store::Machine:
        return RegFileRegistry::hiveFile(Hive::LocalMachine);
    case Store::Open:
        return RegFileRegistry::openKeysFile();
    }
    return {};
}

// A hive file as last read.
struct CachedHive {
    QString path;
    bool loaded = false;                  // false: read the file again at the next call
    std::optional<FileIdentity> identity; // empty when the file does not exist
    // The parsed file stays open: while it is, no new file can be given its inode number,
    // so an equal identity really is the same file.
    UniqueFd file;
    mode_t mode = 0;
    KeyNode root;
    QString damage;    // why the file cannot be parsed ("<file>, line <n>: <reason>")
    QString readError; // the system's text for why the file cannot be read at all
};

} // namespace

struct RegFileRegistry::State {
    std::mutex mutex;
    std::chrono::milliseconds lockTimeout;
    CachedHive stores[kStores];
    int parses = 0;

    CachedHive& current(Store store);
    void load(CachedHive& cached, Store store, const QString& path);
    const KeyNode* find(Hive hive, const QStringList& parts);
    RegResult lock(Store store, UniqueFd& held);
    DamagedHive setAside(CachedHive& cached);
    RegResult refuseDamaged(Store store);
    RegResult replaceFile(CachedHive& cached, Store store, const QByteArray& text);
    RegResult commit(Store store, KeyNode&& root, const ChangeOutcome& outcome);
    RegResult writeUser(const QList<RegChange>& changes, bool strict);
    RegResult writeMachine(const QList<RegChange>& changes, bool strict, bool everyoneMayWrite);
    RegResult write(Hive hive, const QList<RegChange>& changes, bool strict, bool everyoneMayWrite);
    std::optional<DamagedHive> keepAside(Store store);
};

RegFileRegistry::RegFileRegistry(std::chrono::milliseconds lockTimeout)
    : d(std::make_unique<State>()) {
    d->lockTimeout = lockTimeout;
}

RegFileRegistry::~RegFileRegistry() = default;

int RegFileRegistry::parseCount() const {
    std::lock_guard guard(d->mutex);
    return d->parses;
}

// The file's parsed contents, read again only when the file is no longer the one parsed.
CachedHive& RegFileRegistry::State::current(Store store) {
    CachedHive& cached = stores[indexOf(store)];
    const QString path = storeFile(store);
    if (cached.loaded && cached.path == path) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
            if (cached.identity && *cached.identity == identityOf(st))
                return cached;
        } else if (errno == ENOENT && !cached.identity) {
            return cached;
        }
    }
    load(cached, store, path);
    return cached;
}

void RegFileRegistry::State::load(CachedHive& cached, Store store, const QString& path) {
    cached = CachedHive();
    cached.path = path;
    // No symbolic link, pipe or device is read as a hive: the open-keys folder is open to
    // every user, and such a file there could hang or mislead a reader.
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            cached.loaded = true;
        } else if (errno == ELOOP) {
            cached.loaded = true;
            cached.damage = QStringLiteral("%1: the file is a symbolic link, not a hive").arg(path);
        } else {
            cached.readError = errorText(errno);
        }
        return;
    }
    struct stat st;
    QByteArray bytes;
    int error = ::fstat(fd.get(), &st) == 0 ? 0 : errno;
    const bool regular = !error && S_ISREG(st.st_mode);
    if (!error && regular)
        error = readAll(fd.get(), bytes, regfile::kMaxTextSize);
    if (error) {
        cached.readError = errorText(error);
        return;
    }
    cached.loaded = true;
    cached.identity = identityOf(st);
    cached.mode = st.st_mode & 07777;
    cached.file = std::move(fd);
    if (!regular) {
        cached.damage = QStringLiteral("%1: the file is not a regular file").arg(path);
        return;
    }
    ++parses;

    const Hive hive = store == Store::User ? Hive::CurrentUser : Hive::LocalMachine;
    const regfile::ParseResult parsed = regfile::parse(bytes);
    int errorLine = parsed.errorLine;
    QString reason = parsed.error;
    for (const regfile::Section& section : parsed.sections) {
        const QString hivePart = section.keyName.section(QLatin1Char('\\'), 0, 0);
        if (regfile::hiveFromName(hivePart) != hive) {
            errorLine = section.line;
            reason = QStringLiteral("the key belongs to %1, not to %2").arg(hivePart, hiveName(hive));
            break;
        }
        const QList<RegChange> changes = regfile::changesOf(section);
        const auto parts = splitKeyPath(changes.first().keyPath);
        ChangeOutcome outcome;
        if (!parts)
            outcome.error = EINVAL;
        for (const RegChange& change : changes) {
            if (outcome.error)
                break;
            applyChange(cached.root, change, *parts, false, outcome);
        }
        if (outcome.error) {
            errorLine = section.line;
            reason = errorText(outcome.error);
            break;
        }
        // Only the machine hive, which other users cannot write, says which keys are open.
        if (store == Store::Machine && section.openToEveryone && !section.remove && !parts->isEmpty())
            findKey(cached.root, *parts)->open = true;
    }
    if (errorLine) {
        cached.root = KeyNode();
        cached.damage = QStringLiteral("%1, line %2: %3").arg(path).arg(errorLine).arg(reason);
    }
}

// The key as readers see it: in the machine hive, at or below a key open to every user,
// the open-keys hive holds it.
const KeyNode* RegFileRegistry::State::find(Hive hive, const QStringList& parts) {
    if (hive == Hive::CurrentUser)
        return findKey(current(Store::User).root, parts);
    static const KeyNode kEmptyKey;
    const KeyNode* node = &current(Store::Machine).root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        node = node->child(fold(parts[i]));
        if (!node)
            return nullptr;
        if (node->open) {
            if (const KeyNode* open = findKey(current(Store::Open).root, parts))
                return open;
            return i + 1 == parts.size() ? &kEmptyKey : nullptr;
        }
    }
    return node;
}

// Takes a store's lock, creating its folder and lock file when they are missing. The lock
// lives in a file of its own: the hive's inode changes at every write.
RegResult RegFileRegistry::State::lock(Store store, UniqueFd& held) {
    const QString path = storeFile(store);
    const StoreModes modes = modesOf(store);
    const QByteArray folder = QFile::encodeName(folderOf(path));
    if (const int error = makeFolder(folder, modes.folder))
        return failure(error);
    const QByteArray lockPath = QFile::encodeName(path) + ".lock";
    held = UniqueFd(openLockFile(lockPath, modes.lock));
    if (!held.valid())
        return failure(errno);
    const int error = lockExclusive(held.get(), lockTimeout);
    if (error == ETIMEDOUT) {
        held = UniqueFd();
        return {false, QStringLiteral("%1 is locked by another program; the change was given up after %2 "
                                      "seconds.")
                           .arg(QFile::decodeName(lockPath))
                           .arg(double(lockTimeout.count()) / 1000.0)};
    }
    if (error) {
        held = UniqueFd();
        return failure(error);
    }
    return {};
}

// Moves a damaged hive file out of the way under a name of its own, so that it is never
// overwritten and someone can still mend it by hand; the hive starts again empty.
DamagedHive RegFileRegistry::State::setAside(CachedHive& cached) {
    DamagedHive result;
    result.damage = cached.damage;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(cached.path);
    for (int n = 1;; ++n) {
        const QString aside = cached.path + QStringLiteral(".corrupt-") + stamp +
                              (n == 1 ? QString() : QLatin1Char('-') + QString::number(n));
        const int error = renameWithoutReplacing(from, QFile::encodeName(aside));
        if (error == EEXIST && n < 1000)
            continue;
        if (error) {
            result.error = errorText(error);
            return result;
        }
        result.keptAs = aside;
        break;
    }
    syncFolder(QFile::encodeName(folderOf(cached.path)));
    cached = CachedHive();
    return result;
}

// A change to a store that cannot be read: a damaged file is kept aside and the change
// fails saying so; the next change starts a new file.
RegResult RegFileRegistry::State::refuseDamaged(Store store) {
    CachedHive& cached = current(store);
    if (!cached.readError.isEmpty())
        return {false, cached.readError};
    if (cached.damage.isEmpty())
        return {};
    const DamagedHive kept = setAside(cached);
    if (kept.keptAs.isEmpty())
        return {false, QStringLiteral("%1. It could not be kept aside: %2").arg(kept.damage, kept.error)};
    return {false, QStringLiteral("%1. The damaged file was kept as %2; the hive starts again empty.")
                       .arg(kept.damage, kept.keptAs)};
}

// Writes the new contents beside the hive and renames them over it, so that a reader
// sees either the old file or the new one, and a crash leaves one of them whole.
RegResult RegFileRegistry::State::replaceFile(CachedHive& cached, Store store, const QByteArray& text) {
    if (text.size() > regfile::kMaxTextSize)
        return failure(EFBIG);
    // A new file gets its store's mode. The user's own hive keeps whatever its owner gave
    // it; the machine hive never becomes writable by others; the open keys always are.
    mode_t mode = modesOf(store).file;
    if (cached.identity && store == Store::User)
        mode = cached.mode;
    else if (cached.identity && store == Store::Machine)
        mode = cached.mode & ~mode_t(0022);
    const QByteArray target = QFile::encodeName(cached.path);
    QByteArray temp = target + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid())
        return failure(errno);
    struct stat st;
    int error = writeAll(fd.get(), text);
    if (!error && ::fchmod(fd.get(), mode) != 0)
        error = errno;
    if (!error && ::fsync(fd.get()) != 0)
        error = errno;
    if (!error && ::fstat(fd.get(), &st) != 0)
        error = errno;
    if (!error && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.constData());
        return failure(error);
    }
    syncFolder(QFile::encodeName(folderOf(cached.path)));
    cached.identity = identityOf(st);
    cached.file = std::move(fd);
    cached.mode = mode;
    return {};
}

// Stores a store's new tree, or, when nothing changed, says whether it could have.
RegResult RegFileRegistry::State::commit(Store store, KeyNode&& root, const ChangeOutcome& outcome) {
    CachedHive& cached = current(store);
    const QByteArray folder = QFile::encodeName(folderOf(cached.path));
    if (!outcome.changed) {
        if (::faccessat(AT_FDCWD, folder.constData(), W_OK, AT_EACCESS) == 0 || errno == ENOENT)
            return {};
        return failure(errno);
    }
    if (store == Store::Machine)
        closeToOthers(folder);
    QList<regfile::Section> sections;
    collectSections(root, hiveName(store == Store::User ? Hive::CurrentUser : Hive::LocalMachine), sections);
    const RegResult result = replaceFile(cached, store, regfile::format(sections));
    if (result.ok)
        cached.root = std::move(root);
    return result;
}

RegResult RegFileRegistry::State::writeUser(const QList<RegChange>& changes, bool strict) {
    UniqueFd held;
    if (const RegResult locked = lock(Store::User, held); !locked.ok)
        return locked;
    if (const RegResult refused = refuseDamaged(Store::User); !refused.ok)
        return refused;
    KeyNode root = current(Store::User).root;
    ChangeOutcome outcome;
    for (const RegChange& change : changes) {
        const auto parts = splitKeyPath(change.keyPath);
        if (!parts)
            return failure(EINVAL);
        applyChange(root, change, *parts, strict, outcome);
        if (outcome.error)
            return failure(outcome.error);
    }
    return commit(Store::User, std::move(root), outcome);
}

// A change to the machine hive may touch its own file, the open-keys file or both: the
// batch is worked out on the files as they are, the locks of the files it touches are taken
// (machine hive first), and it is worked out again under them. A user who may write only
// the open keys never needs the machine hive's lock.
RegResult RegFileRegistry::State::writeMachine(const QList<RegChange>& changes, bool strict,
                                               bool everyoneMayWrite) {
    bool needMachine = false;
    bool needOpen = false;
    for (int attempt = 0;; ++attempt) {
        UniqueFd machineLock;
        UniqueFd openLock;
        if (needMachine) {
            if (const RegResult locked = lock(Store::Machine, machineLock); !locked.ok)
                return locked;
        }
        if (needOpen) {
            if (const RegResult locked = lock(Store::Open, openLock); !locked.ok)
                return locked;
        }
        KeyNode machine = current(Store::Machine).root;
        KeyNode open = current(Store::Open).root;
        ChangeOutcome inMachine;
        ChangeOutcome inOpen;
        for (const RegChange& change : changes) {
            const auto parts = splitKeyPath(change.keyPath);
            if (!parts)
                return failure(EINVAL);
            applyMachineChange(machine, open, change, *parts, strict, everyoneMayWrite, inMachine, inOpen);
            if (inMachine.error || inOpen.error)
                return failure(inMachine.error ? inMachine.error : inOpen.error);
        }
        const bool lockedEnough = (!inMachine.targeted || needMachine) && (!inOpen.targeted || needOpen);
        if (!lockedEnough && attempt < 2) {
            needMachine |= inMachine.targeted;
            needOpen |= inOpen.targeted;
            continue;
        }
        if (!lockedEnough)
            return failure(EAGAIN);
        // A damaged file is kept aside before anything is written.
        if (inMachine.targeted) {
            if (const RegResult refused = refuseDamaged(Store::Machine); !refused.ok)
                return refused;
        }
        if (inOpen.targeted) {
            if (const RegResult refused = refuseDamaged(Store::Open); !refused.ok)
                return refused;
        }
        // The machine hive first: it is the one a user may be refused.
        if (inMachine.targeted) {
            if (const RegResult result = commit(Store::Machine, std::move(machine), inMachine); !result.ok)
                return result;
        }
        if (inOpen.targeted)
            return commit(Store::Open, std::move(open), inOpen);
        return {};
    }
}

RegResult RegFileRegistry::State::write(Hive hive, const QList<RegChange>& changes, bool strict,
                                        bool everyoneMayWrite) {
    return hive == Hive::CurrentUser ? writeUser(changes, strict)
                                     : writeMachine(changes, strict, everyoneMayWrite);
}

std::optional<DamagedHive> RegFileRegistry::State::keepAside(Store store) {
    if (current(store).damage.isEmpty())
        return std::nullopt;
    UniqueFd held;
    if (const RegResult locked = lock(store, held); !locked.ok) {
        DamagedHive kept;
        kept.damage = current(store).damage;
        kept.error = locked.error;
        return kept;
    }
    CachedHive& cached = current(store); // as it is under the lock
    if (cached.damage.isEmpty())
        return std::nullopt;
    return setAside(cached);
}

std::optional<RegValue> RegFileRegistry::value(Hive hive, const QString& keyPath, const QString& name) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return std::nullopt;
    std::lock_guard guard(d->mutex);
    const KeyNode* key = d->find(hive, *parts);
    const RegValue* found = key ? key->findValue(name) : nullptr;
    return found ? std::optional(*found) : std::nullopt;
}

bool RegFileRegistry::keyExists(Hive hive, const QString& keyPath) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return false;
    std::lock_guard guard(d->mutex);
    return d->find(hive, *parts) != nullptr;
}

QStringList RegFileRegistry::subKeys(Hive hive, const QString& keyPath) {
    QStringList names;
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return names;
    std::lock_guard guard(d->mutex);
    if (const KeyNode* key = d->find(hive, *parts)) {
        for (const auto& [folded, child] : key->children)
            names.append(child->name);
    }
    return names;
}

QList<RegValue> RegFileRegistry::values(Hive hive, const QString& keyPath) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return {};
    std::lock_guard guard(d->mutex);
    const KeyNode* key = d->find(hive, *parts);
    return key ? key->valueList() : QList<RegValue>();
}

RegResult RegFileRegistry::createKey(Hive hive, const QString& keyPath, bool everyoneMayWrite) {
    std::lock_guard guard(d->mutex);
    return d->write(hive, {{RegChange::Kind::CreateKey, keyPath, {}}}, true, everyoneMayWrite);
}

RegResult RegFileRegistry::setValue(Hive hive, const QString& keyPath, const RegValue& value,
                                    bool everyoneMayWrite) {
    std::lock_guard guard(d->mutex);
    return d->write(hive, {{RegChange::Kind::SetValue, keyPath, value}}, true, everyoneMayWrite);
}

RegResult RegFileRegistry::deleteValue(Hive hive, const QString& keyPath, const QString& name) {
    RegValue value;
    value.name = name;
    std::lock_guard guard(d->mutex);
    return d->write(hive, {{RegChange::Kind::DeleteValue, keyPath, value}}, true, false);
}

RegResult RegFileRegistry::deleteKey(Hive hive, const QString& keyPath) {
    std::lock_guard guard(d->mutex);
    return d->write(hive, {{RegChange::Kind::DeleteKey, keyPath, {}}}, true, false);
}

RegResult RegFileRegistry::apply(Hive hive, const QList<RegChange>& changes, bool everyoneMayWrite) {
    std::lock_guard guard(d->mutex);
    return d->write(hive, changes, false, everyoneMayWrite);
}

RegResult RegFileRegistry::hiveStatus(Hive hive) {
    std::lock_guard guard(d->mutex);
    const QList<Store> stores =
        hive == Hive::CurrentUser ? QList<Store>{Store::User} : QList<Store>{Store::Machine, Store::Open};
    for (const Store store : stores) {
        const CachedHive& cached = d->current(store);
        if (!cached.damage.isEmpty())
            return {false, cached.damage};
        if (!cached.readError.isEmpty())
            return {false, QStringLiteral("%1: %2").arg(cached.path, cached.readError)};
    }
    return {};
}

std::optional<DamagedHive> RegFileRegistry::keepDamagedHiveAside(Hive hive) {
    std::lock_guard guard(d->mutex);
    if (hive == Hive::CurrentUser)
        return d->keepAside(Store::User);
    if (auto kept = d->keepAside(Store::Machine))
        return kept;
    return d->keepAside(Store::Open);
}

} // namespace platform
