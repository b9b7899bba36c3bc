#include "platform/RegFileRegistry.h"

#include "platform/Paths.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                     : QStringLiteral("HKEY_LOCAL_MACHINE");
}

RegResult Registry::apply(Hive hive, const QList<RegChange>& changes, bool everyoneMayWrite) {
    for (const RegChange& change : changes) {
        RegResult result;
        switch (change.kind) {
        case RegChange::Kind::CreateKey:
            result = createKey(hive, change.keyPath, everyoneMayWrite);
            break;
        case RegChange::Kind::SetValue:
            result = setValue(hive, change.keyPath, change.value, everyoneMayWrite);
            break;
        case RegChange::Kind::DeleteValue:
            if (value(hive, change.keyPath, change.value.name))
                result = deleteValue(hive, change.keyPath, change.value.name);
            break;
        case RegChange::Kind::DeleteKey:
            if (keyExists(hive, change.keyPath))
                result = deleteKey(hive, change.keyPath);
            break;
        }
        if (!result.ok)
            return result;
    }
    return {};
}

RegResult Registry::hiveStatus(Hive) {
    return {};
}

std::unique_ptr<Registry> Registry::makeDefault() {
    return std::make_unique<RegFileRegistry>();
}

namespace {

// A text can be written between quotes on one line when it holds no control character
// and no lone half of a surrogate pair (UTF-8 cannot carry one).
bool fitsOnLine(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c == 0x7f)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

// Key and value names have no escaped form in a .reg file, so they must fit on a line.
bool isStorableName(QStringView name) {
    return fitsOnLine(name);
}

QString fold(const QString& name) {
    return name.toCaseFolded();
}

// How deep a key may lie below its hive, as on Windows. The tree is copied, stored and
// freed recursively, so a deeper one (from a hand-made file) would overflow the stack.
constexpr qsizetype kMaxKeyDepth = 512;

// The parts of a key path; empty parts (doubled or trailing "\") are dropped.
std::optional<QStringList> splitKeyPath(const QString& keyPath) {
    const QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() > kMaxKeyDepth)
        return std::nullopt;
    for (const QString& part : parts) {
        if (!isStorableName(part))
            return std::nullopt;
    }
    return parts;
}

bool sameValue(const RegValue& a, const RegValue& b) {
    if (a.type != b.type)
        return false;
    return a.type == RegType::String ? a.text == b.text : a.dword == b.dword;
}

// One key of a hive in memory. Names keep the spelling first used; look-ups go by the
// case-folded name.
struct KeyNode {
    QString name;
    QString folded;
    QList<RegValue> values;          // in the order they were first stored
    QHash<QString, qsizetype> index; // folded value name -> position in `values`
    std::vector<KeyNode> children;   // ordered by folded name

    const RegValue* findValue(const QString& valueName) const {
        const auto it = index.constFind(fold(valueName));
        return it == index.cend() ? nullptr : &values[*it];
    }

    std::vector<KeyNode>::iterator childPosition(const QString& foldedName) {
        return std::lower_bound(children.begin(), children.end(), foldedName,
                                [](const KeyNode& node, const QString& key) { return node.folded < key; });
    }

    KeyNode* child(const QString& foldedName) {
        const auto it = childPosition(foldedName);
        return it != children.end() && it->folded == foldedName ? &*it : nullptr;
    }

    const KeyNode* child(const QString& foldedName) const {
        return const_cast<KeyNode*>(this)->child(foldedName);
    }

    KeyNode& ensureChild(const QString& childName, bool& created) {
        const QString foldedName = fold(childName);
        auto it = childPosition(foldedName);
        if (it != children.end() && it->folded == foldedName)
            return *it;
        created = true;
        KeyNode node;
        node.name = childName;
        node.folded = foldedName;
        return *children.insert(it, std::move(node));
    }

    bool removeChild(const QString& foldedName) {
        const auto it = childPosition(foldedName);
        if (it == children.end() || it->folded != foldedName)
            return false;
        children.erase(it);
        return true;
    }

    // True when the stored data changed.
    bool store(const RegValue& value) {
        const QString key = fold(value.name);
        const auto it = index.constFind(key);
        if (it == index.cend()) {
            index.insert(key, values.size());
            values.append(value);
            return true;
        }
        RegValue& stored = values[*it];
        if (sameValue(stored, value))
            return false;
        const QString spelling = stored.name;
        stored = value;
        stored.name = spelling;
        return true;
    }

    bool removeValue(const QString& valueName) {
        const auto it = index.constFind(fold(valueName));
        if (it == index.cend())
            return false;
        values.removeAt(*it);
        index.clear();
        for (qsizetype i = 0; i < values.size(); ++i)
            index.insert(fold(values[i].name), i);
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

struct ChangeOutcome {
    int error = 0;        // errno value; 0 when the change could be made
    bool changed = false; // the tree differs from before
    bool created = false; // a key was created
};

// Applies one change to a tree. `strict` makes removing something missing an error
// (single operations); a batch, like an imported file, passes over it.
void applyChange(KeyNode& root, const RegChange& change, bool strict, ChangeOutcome& outcome) {
    const auto parts = splitKeyPath(change.keyPath);
    if (!parts) {
        outcome.error = EINVAL;
        return;
    }
    switch (change.kind) {
    case RegChange::Kind::CreateKey: {
        bool created = false;
        ensureKey(root, *parts, created);
        outcome.changed |= created;
        outcome.created |= created;
        return;
    }
    case RegChange::Kind::SetValue: {
        if (!isStorableName(change.value.name)) {
            outcome.error = EINVAL;
            return;
        }
        bool created = false;
        KeyNode& key = ensureKey(root, *parts, created);
        outcome.created |= created;
        outcome.changed |= key.store(change.value) || created;
        return;
    }
    case RegChange::Kind::DeleteValue: {
        KeyNode* key = findKey(root, *parts);
        const bool removed = key && key->removeValue(change.value.name);
        outcome.changed |= removed;
        if (!removed && strict)
            outcome.error = ENOENT;
        return;
    }
    case RegChange::Kind::DeleteKey: {
        if (parts->isEmpty()) {
            outcome.error = EINVAL; // the hive itself cannot be deleted
            return;
        }
        KeyNode* parent = findKey(root, parts->mid(0, parts->size() - 1));
        const bool removed = parent && parent->removeChild(fold(parts->last()));
        outcome.changed |= removed;
        if (!removed && strict)
            outcome.error = ENOENT;
        return;
    }
    }
}

// The key path below the hive of a full key name ("HKEY_CURRENT_USER\A\B" -> "A\B").
QString pathBelowHive(const QString& keyName) {
    const qsizetype slash = keyName.indexOf(QLatin1Char('\\'));
    return slash < 0 ? QString() : keyName.mid(slash + 1);
}

void collectSections(const KeyNode& node, const QString& keyName, QList<regfile::Section>& out) {
    regfile::Section section;
    section.keyName = keyName;
    // The default value first, as the registry editor writes it.
    for (const RegValue& value : node.values) {
        if (value.name.isEmpty())
            section.entries.append({value, false});
    }
    for (const RegValue& value : node.values) {
        if (!value.name.isEmpty())
            section.entries.append({value, false});
    }
    if (!section.entries.isEmpty() || keyName.contains(QLatin1Char('\\')))
        out.append(section);
    for (const KeyNode& child : node.children)
        collectSections(child, keyName + QLatin1Char('\\') + child.name, out);
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

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

int readAll(int fd, QByteArray& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        out.append(buffer, n);
    }
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

int makeFolders(const QByteArray& folder, mode_t mode) {
    if (::mkdir(folder.constData(), mode) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return errno;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash <= 0)
        return ENOENT;
    if (const int error = makeFolders(folder.left(slash), 0755))
        return error;
    return ::mkdir(folder.constData(), mode) == 0 || errno == EEXIST ? 0 : errno;
}

int syncFolder(const QByteArray& folder) {
    Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    return ::fsync(fd.get()) == 0 ? 0 : errno;
}

// Gives a path exactly the permission bits `mode` unless it has them already (only its
// owner may change them, and a folder that is open to all needs no change).
int setMode(const QByteArray& path, mode_t mode) {
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return errno;
    if ((st.st_mode & 07777) == mode)
        return 0;
    return ::chmod(path.constData(), mode) == 0 ? 0 : errno;
}

int openLockFile(const QByteArray& path, mode_t mode) {
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EACCES)
        return fd;
    const int readOnly = ::open(path.constData(), O_RDONLY | O_CLOEXEC); // flock needs no write access
    if (readOnly < 0)
        errno = EACCES; // the refusal is what the caller needs to hear, not "missing"
    return readOnly;
}

QString folderOf(const QString& file) {
    return file.left(file.lastIndexOf(QLatin1Char('/')));
}

} // namespace

QString RegFileRegistry::hiveFile(Hive hive) {
    // The folders follow the environment at every call (docs/configuration.md).
    const QString folder = hive == Hive::CurrentUser
                               ? paths().userConfigDirectory() + QStringLiteral("/kelvo")
                               : paths().machineDirectory();
    return folder + QLatin1Char('/') + hiveName(hive) + QStringLiteral(".reg");
}

// A hive as last read from its file.
struct CachedHive {
    QString path;
    bool loaded = false;                  // false: read the file again at the next call
    std::optional<FileIdentity> identity; // empty when the file does not exist
    // The parsed file stays open: while it is, no new file can be given its inode number,
    // so an equal identity really is the same file.
    Fd file;
    mode_t mode = 0;
    KeyNode root;
    QString damage;    // why the file cannot be parsed ("<file>, line <n>: <reason>")
    QString readError; // why the file cannot be read at all
};

struct RegFileRegistry::State {
    std::mutex mutex;
    CachedHive hives[2];
    int parses = 0;

    CachedHive& current(Hive hive);
    void load(CachedHive& cached, Hive hive, const QString& path);
    RegResult write(Hive hive, const QList<RegChange>& changes, bool strict, bool everyoneMayWrite);
    RegResult setAside(CachedHive& cached);
    RegResult replaceFile(CachedHive& cached, const QByteArray& text, mode_t mode);
};

RegFileRegistry::RegFileRegistry()
    : d(std::make_unique<State>()) {}

RegFileRegistry::~RegFileRegistry() = default;

int RegFileRegistry::parseCount() const {
    std::lock_guard guard(d->mutex);
    return d->parses;
}

// The hive's parsed contents, re-read only when its file is no longer the one parsed.
CachedHive& RegFileRegistry::State::current(Hive hive) {
    CachedHive& cached = hives[hive == Hive::CurrentUser ? 0 : 1];
    const QString path = hiveFile(hive);
    if (cached.loaded && cached.path == path) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            if (cached.identity && *cached.identity == identityOf(st))
                return cached;
        } else if (errno == ENOENT && !cached.identity) {
            return cached;
        }
    }
    load(cached, hive, path);
    return cached;
}

void RegFileRegistry::State::load(CachedHive& cached, Hive hive, const QString& path) {
    cached = CachedHive();
    cached.path = path;
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid()) {
        if (errno != ENOENT) {
            cached.readError = errorText(errno);
            return;
        }
        cached.loaded = true;
        return;
    }
    QByteArray bytes;
    int error = ::fstat(fd.get(), &st) == 0 ? 0 : errno;
    if (!error)
        error = readAll(fd.get(), bytes);
    if (error) {
        cached.readError = errorText(error);
        return;
    }
    cached.loaded = true;
    cached.identity = identityOf(st);
    cached.mode = st.st_mode & 07777;
    cached.file = std::move(fd);
    ++parses;

    const regfile::ParseResult parsed = regfile::parse(bytes);
    int errorLine = parsed.errorLine;
    QString reason = parsed.error;
    for (const regfile::Section& section : parsed.sections) {
        if (!parsed.ok())
            break;
        const QString hivePart = section.keyName.section(QLatin1Char('\\'), 0, 0);
        if (regfile::hiveFromName(hivePart) != hive) {
            errorLine = section.line;
            reason = QStringLiteral("the key belongs to %1, not to %2").arg(hivePart, hiveName(hive));
            break;
        }
        ChangeOutcome outcome;
        for (const RegChange& change : regfile::changesOf(section))
            applyChange(cached.root, change, false, outcome);
        if (outcome.error) {
            errorLine = section.line;
            reason = errorText(outcome.error);
            break;
        }
    }
    if (errorLine) {
        cached.root = KeyNode();
        cached.damage = QStringLiteral("%1, line %2: %3").arg(path).arg(errorLine).arg(reason);
    }
}

// Moves a damaged hive file out of the way under a name of its own, so that it is never
// overwritten and someone can still mend it by hand.
RegResult RegFileRegistry::State::setAside(CachedHive& cached) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = cached.path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = cached.path + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);
    const QByteArray from = QFile::encodeName(cached.path);
    if (::rename(from.constData(), QFile::encodeName(aside).constData()) != 0) {
        return {false,
                QStringLiteral("%1. It could not be kept aside: %2").arg(cached.damage, errorText(errno))};
    }
    syncFolder(QFile::encodeName(folderOf(cached.path)));
    const QString text = QStringLiteral("%1. The damaged file was kept as %2; the hive starts again empty.")
                             .arg(cached.damage, aside);
    cached = CachedHive();
    return {false, text};
}

// Writes the new contents beside the hive and renames them over it, so that a reader
// sees either the old file or the new one, and a crash leaves one of them whole.
RegResult RegFileRegistry::State::replaceFile(CachedHive& cached, const QByteArray& text, mode_t mode) {
    const QByteArray target = QFile::encodeName(cached.path);
    QByteArray temp = target + ".tmp-XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
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

RegResult RegFileRegistry::State::write(Hive hive, const QList<RegChange>& changes, bool strict,
                                        bool everyoneMayWrite) {
    const QString path = hiveFile(hive);
    const QByteArray folder = QFile::encodeName(folderOf(path));
    const bool machine = hive == Hive::LocalMachine;
    if (const int error = makeFolders(folder, machine ? 0755 : 0700))
        return failure(error);

    // The lock lives in a file of its own: the hive's inode changes at every write.
    const QByteArray lockPath = QFile::encodeName(path) + ".lock";
    Fd lock(openLockFile(lockPath, machine ? 0644 : 0600));
    if (!lock.valid())
        return failure(errno);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return failure(errno);
    }

    CachedHive& cached = current(hive);
    if (!cached.readError.isEmpty())
        return {false, cached.readError};
    if (!cached.damage.isEmpty())
        return setAside(cached);

    KeyNode root = cached.root;
    ChangeOutcome outcome;
    for (const RegChange& change : changes) {
        applyChange(root, change, strict, outcome);
        if (outcome.error)
            return failure(outcome.error);
    }
    if (!outcome.changed) {
        // Nothing to store, but the caller still learns whether it could have stored it.
        return ::faccessat(AT_FDCWD, folder.constData(), W_OK, AT_EACCESS) == 0 ? RegResult()
                                                                                : failure(errno);
    }

    mode_t mode = cached.identity ? cached.mode : (machine ? 0644 : 0600);
    if (machine && everyoneMayWrite && outcome.created) {
        // A hive is one file, so a key open to every user means the whole hive is: the
        // folder (rename needs it, hence no sticky bit), the lock and the file itself.
        if (const int error = setMode(folder, 0777))
            return failure(error);
        if (const int error = setMode(lockPath, 0666))
            return failure(error);
        mode = 0666;
    }

    QList<regfile::Section> sections;
    collectSections(root, hiveName(hive), sections);
    const RegResult result = replaceFile(cached, regfile::format(sections), mode);
    if (result.ok)
        cached.root = std::move(root);
    return result;
}

std::optional<RegValue> RegFileRegistry::value(Hive hive, const QString& keyPath, const QString& name) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return std::nullopt;
    std::lock_guard guard(d->mutex);
    const KeyNode* key = findKey(d->current(hive).root, *parts);
    const RegValue* found = key ? key->findValue(name) : nullptr;
    return found ? std::optional(*found) : std::nullopt;
}

bool RegFileRegistry::keyExists(Hive hive, const QString& keyPath) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return false;
    std::lock_guard guard(d->mutex);
    return findKey(d->current(hive).root, *parts) != nullptr;
}

QStringList RegFileRegistry::subKeys(Hive hive, const QString& keyPath) {
    QStringList names;
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return names;
    std::lock_guard guard(d->mutex);
    if (const KeyNode* key = findKey(d->current(hive).root, *parts)) {
        for (const KeyNode& child : key->children)
            names.append(child.name);
    }
    return names;
}

QList<RegValue> RegFileRegistry::values(Hive hive, const QString& keyPath) {
    const auto parts = splitKeyPath(keyPath);
    if (!parts)
        return {};
    std::lock_guard guard(d->mutex);
    const KeyNode* key = findKey(d->current(hive).root, *parts);
    return key ? key->values : QList<RegValue>();
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
    const CachedHive& cached = d->current(hive);
    if (!cached.damage.isEmpty())
        return {false, cached.damage};
    if (!cached.readError.isEmpty())
        return {false, QStringLiteral("%1: %2").arg(cached.path, cached.readError)};
    return {};
}

// ---------------------------------------------------------------------------------------
// The .reg text format

namespace regfile {

QList<RegChange> changesOf(const Section& section) {
    const QString keyPath = pathBelowHive(section.keyName);
    QList<RegChange> changes;
    changes.append({section.remove ? RegChange::Kind::DeleteKey : RegChange::Kind::CreateKey, keyPath, {}});
    if (section.remove)
        return changes;
    for (const Entry& entry : section.entries)
        changes.append(
            {entry.remove ? RegChange::Kind::DeleteValue : RegChange::Kind::SetValue, keyPath, entry.value});
    return changes;
}

std::optional<Hive> hiveFromName(QStringView name) {
    if (name.compare(u"HKEY_CURRENT_USER", Qt::CaseInsensitive) == 0 ||
        name.compare(u"HKCU", Qt::CaseInsensitive) == 0)
        return Hive::CurrentUser;
    if (name.compare(u"HKEY_LOCAL_MACHINE", Qt::CaseInsensitive) == 0 ||
        name.compare(u"HKLM", Qt::CaseInsensitive) == 0)
        return Hive::LocalMachine;
    return std::nullopt;
}

namespace {

QString quoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// hex(1): the text as UTF-16LE with its terminating NUL, wrapped like the registry
// editor wraps long hex data ("\" at the end of a line, the next indented by two).
QString hexString(const QString& prefix, const QString& text) {
    QByteArray bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    bytes.append(2, '\0');
    QString out;
    QString line = prefix + QStringLiteral("hex(1):");
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const bool last = i + 1 == bytes.size();
        const QString token = QStringLiteral("%1").arg(uint(uchar(bytes[i])), 2, 16, QLatin1Char('0')) +
                              (last ? QString() : QStringLiteral(","));
        if (line.size() + token.size() > 77) {
            out += line + QStringLiteral("\\\n");
            line = QStringLiteral("  ");
        }
        line += token;
    }
    return out + line;
}

QString valueLine(const Entry& entry) {
    const QString prefix =
        (entry.value.name.isEmpty() ? QStringLiteral("@") : quoted(entry.value.name)) + QLatin1Char('=');
    if (entry.remove)
        return prefix + QLatin1Char('-');
    if (entry.value.type == RegType::DWord)
        return prefix + QStringLiteral("dword:%1").arg(entry.value.dword, 8, 16, QLatin1Char('0'));
    if (fitsOnLine(entry.value.text))
        return prefix + quoted(entry.value.text);
    return hexString(prefix, entry.value.text);
}

// Splits the text into lines; false (with the line) when it is not text of ours.
bool decodeLines(const QByteArray& bytes, QStringList& lines, int& badLine, QString& reason) {
    QStringList raw;
    if (bytes.startsWith("\xff\xfe")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
        raw = text.split(QLatin1Char('\n'));
        if (decoder.hasError() || bytes.size() % 2 != 0) {
            const qsizetype bad = text.indexOf(QChar::ReplacementCharacter);
            badLine = int(bad < 0 ? raw.size() : text.left(bad).count(QLatin1Char('\n')) + 1);
            reason = QStringLiteral("the text is not valid UTF-16");
            return false;
        }
    } else {
        QByteArrayView view(bytes);
        if (view.startsWith("\xef\xbb\xbf"))
            view = view.sliced(3);
        const QList<QByteArrayView> byteLines = [&] {
            QList<QByteArrayView> out;
            qsizetype start = 0;
            for (qsizetype i = 0; i <= view.size(); ++i) {
                if (i == view.size() || view[i] == '\n') {
                    out.append(view.sliced(start, i - start));
                    start = i + 1;
                }
            }
            return out;
        }();
        for (const QByteArrayView line : byteLines) {
            QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            raw.append(decoder.decode(line));
            if (decoder.hasError()) {
                badLine = int(raw.size());
                reason = QStringLiteral("the text is not valid UTF-8");
                return false;
            }
        }
    }
    for (QString& line : raw) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const bool control = std::any_of(line.cbegin(), line.cend(), [](QChar c) {
            return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f;
        });
        if (control) {
            badLine = int(&line - raw.data()) + 1;
            reason = QStringLiteral("the line holds a control character, so the file is not text");
            return false;
        }
    }
    lines = raw;
    return true;
}

// Reads a quoted text starting at `pos` (on the opening quote); leaves `pos` after the
// closing one. Only \\ and \" are escapes.
bool readQuoted(QStringView line, qsizetype& pos, QString& out) {
    ++pos;
    while (pos < line.size()) {
        const QChar c = line[pos++];
        if (c == QLatin1Char('"'))
            return true;
        if (c == QLatin1Char('\\')) {
            if (pos >= line.size() || (line[pos] != QLatin1Char('\\') && line[pos] != QLatin1Char('"')))
                return false;
            out += line[pos++];
        } else {
            out += c;
        }
    }
    return false;
}

class Parser {
public:
    explicit Parser(const QStringList& lines)
        : m_lines(lines) {}

    ParseResult run() {
        while (m_at < m_lines.size() && m_lines[m_at].trimmed().isEmpty())
            ++m_at;
        if (m_at >= m_lines.size() || m_lines[m_at].trimmed() != kHeader) {
            failed(QStringLiteral("the file does not begin with \"%1\"").arg(kHeader));
            return m_result;
        }
        for (++m_at; m_at < m_lines.size(); ++m_at) {
            const QString line = m_lines[m_at].trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
                continue;
            const bool ok = line.startsWith(QLatin1Char('[')) ? keyLine(line) : valueLine(line);
            if (!ok)
                break;
        }
        return m_result;
    }

private:
    bool failed(const QString& reason) {
        m_result.sections.clear();
        m_result.errorLine = int(std::clamp<qsizetype>(m_at, 0, m_lines.size() - 1)) + 1;
        m_result.error = reason;
        return false;
    }

    bool keyLine(const QString& line) {
        if (!line.endsWith(QLatin1Char(']')))
            return failed(QStringLiteral("the key line has no closing \"]\""));
        Section section;
        section.line = int(m_at) + 1;
        QString name = line.mid(1, line.size() - 2);
        if (name.startsWith(QLatin1Char('-'))) {
            section.remove = true;
            name.remove(0, 1);
        }
        const QString hivePart = name.section(QLatin1Char('\\'), 0, 0);
        if (!hiveFromName(hivePart))
            return failed(QStringLiteral("\"%1\" is not a hive this registry holds").arg(hivePart));
        section.keyName = name;
        m_result.sections.append(section);
        return true;
    }

    bool valueLine(const QString& line) {
        if (m_result.sections.isEmpty())
            return failed(QStringLiteral("a value comes before any key"));
        Entry entry;
        qsizetype pos = 0;
        if (line.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!line.startsWith(QLatin1Char('"')) || !readQuoted(line, pos, entry.value.name)) {
            return failed(QStringLiteral("the line is neither a key nor a value"));
        }
        const QString rest = line.mid(pos).trimmed();
        if (!rest.startsWith(QLatin1Char('=')))
            return failed(QStringLiteral("the value name is not followed by \"=\""));
        QString data = rest.mid(1).trimmed();
        if (data == QLatin1String("-")) {
            entry.remove = true;
        } else if (data.startsWith(QLatin1Char('"'))) {
            qsizetype at = 0;
            if (!readQuoted(data, at, entry.value.text) || at != data.size())
                return failed(QStringLiteral("the quoted text is cut off or badly escaped"));
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            const QString digits = data.mid(6);
            bool ok = false;
            entry.value.type = RegType::DWord;
            entry.value.dword = digits.size() <= 8 ? digits.toUInt(&ok, 16) : 0;
            if (!ok)
                return failed(QStringLiteral("\"%1\" is not a dword").arg(digits));
        } else if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            if (!hexValue(data, entry.value))
                return false;
        } else {
            return failed(QStringLiteral("the value's data cannot be read"));
        }
        m_result.sections.last().entries.append(entry);
        return true;
    }

    // hex(1) is a string as UTF-16LE, hex(4) a dword; continued lines end in "\".
    bool hexValue(QString data, RegValue& value) {
        while (data.endsWith(QLatin1Char('\\'))) {
            data.chop(1);
            if (m_at + 1 >= m_lines.size())
                return failed(QStringLiteral("the hex data is cut off"));
            data += m_lines[++m_at].trimmed();
        }
        const qsizetype colon = data.indexOf(QLatin1Char(':'));
        const QString type = data.left(colon).toLower();
        QByteArray bytes;
        const QString list = data.mid(colon + 1);
        if (colon < 0)
            return failed(QStringLiteral("the hex data has no \":\""));
        for (const QString& token : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint byte = token.trimmed().toUInt(&ok, 16);
            if (!ok || byte > 0xff || token.trimmed().size() > 2)
                return failed(QStringLiteral("\"%1\" is not a hex byte").arg(token));
            bytes.append(char(byte));
        }
        if (type == QLatin1String("hex(1)")) {
            if (bytes.size() % 2 != 0)
                return failed(QStringLiteral("a hex(1) text has an odd number of bytes"));
            QString text;
            for (qsizetype i = 0; i < bytes.size(); i += 2)
                text += QChar(char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8)));
            if (text.endsWith(QChar(u'\0')))
                text.chop(1); // the terminating NUL
            value.type = RegType::String;
            value.text = text;
            return true;
        }
        if (type == QLatin1String("hex(4)") && bytes.size() == 4) {
            value.type = RegType::DWord;
            value.dword = quint32(uchar(bytes[0])) | quint32(uchar(bytes[1])) << 8 |
                          quint32(uchar(bytes[2])) << 16 | quint32(uchar(bytes[3])) << 24;
            return true;
        }
        return failed(QStringLiteral("values of type %1 are not supported").arg(type));
    }

    const QStringList& m_lines;
    qsizetype m_at = 0;
    ParseResult m_result;
};

} // namespace

ParseResult parse(const QByteArray& bytes) {
    QStringList lines;
    ParseResult result;
    if (!decodeLines(bytes, lines, result.errorLine, result.error))
        return result;
    return Parser(lines).run();
}

QByteArray format(const QList<Section>& sections) {
    QString out = kHeader.toString() + QStringLiteral("\n\n");
    for (const Section& section : sections) {
        out += QLatin1Char('[') + (section.remove ? QStringLiteral("-") : QString()) + section.keyName +
               QStringLiteral("]\n");
        for (const Entry& entry : section.entries)
            out += valueLine(entry) + QLatin1Char('\n');
        out += QLatin1Char('\n');
    }
    return out.toUtf8();
}

} // namespace regfile

} // namespace platform
