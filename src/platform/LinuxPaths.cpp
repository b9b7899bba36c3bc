#include "platform/LinuxPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

QString withoutTrailingDelimiter(const QString& path) {
    return QDir::cleanPath(path);
}

// An XDG variable counts only when it holds an absolute path; the XDG rules say a relative
// one is to be ignored.
QString xdgVariable(const char* name) {
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return {};
    return withoutTrailingDelimiter(value);
}

// A KELVO_* variable; a relative path is taken from the current directory.
QString kelvoVariable(const char* name, const QString& defaultPath) {
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        return defaultPath;
    return withoutTrailingDelimiter(QDir::current().absoluteFilePath(value));
}

QString homeDirectory() {
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return withoutTrailingDelimiter(home);
    if (const passwd* entry = ::getpwuid(::getuid()))
        return withoutTrailingDelimiter(QFile::decodeName(entry->pw_dir));
    return QDir::rootPath();
}

// A folder that only this user can enter, for when the session has no runtime folder.
QString privateTemporaryFolder() {
    const QString folder = QStringLiteral("/tmp/kelvo-runtime-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat info {};
    // Someone else's folder of that name must not receive this user's sockets and locks.
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return {};
    if ((info.st_mode & 0777) != 0700)
        ::chmod(native.constData(), 0700);
    return folder;
}

QString standardLocation(QStandardPaths::StandardLocation location) {
    return withoutTrailingDelimiter(QStandardPaths::writableLocation(location));
}

} // namespace

QString xdgRuntimeDirectory() {
    return xdgVariable("XDG_RUNTIME_DIR");
}

QString LinuxPaths::currentDirectory() {
    // getcwd fails (ENOENT) when the folder has been removed since the process entered it.
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return QFile::decodeName(buffer.data());
}

QString LinuxPaths::executableDirectory() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
}

QString LinuxPaths::userConfigDirectory() {
    const QString configured = xdgVariable("XDG_CONFIG_HOME");
    return configured.isEmpty() ? homeDirectory() + QStringLiteral("/.config") : configured;
}

QString LinuxPaths::userDataDirectory() {
    const QString configured = xdgVariable("XDG_DATA_HOME");
    return configured.isEmpty() ? homeDirectory() + QStringLiteral("/.local/share") : configured;
}

QString LinuxPaths::userStateDirectory() {
    const QString configured = xdgVariable("XDG_STATE_HOME");
    return configured.isEmpty() ? homeDirectory() + QStringLiteral("/.local/state") : configured;
}

QString LinuxPaths::runtimeDirectory() {
    const QString configured = xdgRuntimeDirectory();
    return configured.isEmpty() ? privateTemporaryFolder() : configured;
}

QString LinuxPaths::machineDirectory() {
    return kelvoVariable("KELVO_MACHINE_DIR", QStringLiteral("/etc/kelvo"));
}

// A folder that every user may write, so it lies outside the machine folder; beside a
// machine folder given by KELVO_MACHINE_DIR, so that setting that one variable still
// isolates an installation.
QString LinuxPaths::openKeysDirectory() {
    const QString machine = qEnvironmentVariable("KELVO_MACHINE_DIR");
    return kelvoVariable("KELVO_OPEN_KEYS_DIR", machine.isEmpty()
                                                    ? QStringLiteral("/var/lib/kelvo/open-keys")
                                                    : machineDirectory() + QStringLiteral("-open-keys"));
}

QString LinuxPaths::simulatorDirectory() {
    const QString configured = kelvoVariable("KELVO_SIM_DIR", {});
    if (!configured.isEmpty())
        return configured;
    const QString runtime = runtimeDirectory();
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/kelvo-sim");
}

// Linux has no Windows or System folder; the nearest counterparts are the installed system
// and its shared libraries. Nothing in the program writes there.
QString LinuxPaths::windowsDirectory() {
    return kelvoVariable("KELVO_WINDOWS_DIR", QStringLiteral("/usr"));
}

QString LinuxPaths::systemDirectory() {
    return kelvoVariable("KELVO_SYSTEM_DIR", QStringLiteral("/usr/lib"));
}

QString LinuxPaths::specialFolder(int folderId) {
    switch (folderId) {
    case ShellFolder::Desktop:
        return standardLocation(QStandardPaths::DesktopLocation);
    case ShellFolder::Personal:
        return standardLocation(QStandardPaths::DocumentsLocation);
    case ShellFolder::AppData:
    case ShellFolder::LocalAppData:
        return userDataDirectory();
    case ShellFolder::CommonAppData:
        return machineDirectory() + QStringLiteral("/ProgramData");
    case ShellFolder::Windows:
        return windowsDirectory();
    case ShellFolder::System:
        return systemDirectory();
    case ShellFolder::ProgramFiles:
        return machineDirectory() + QStringLiteral("/Program Files");
    case ShellFolder::Profile:
        return homeDirectory();
    case ShellFolder::CommonProgramFiles:
        return machineDirectory() + QStringLiteral("/Common Files");
    default:
        return {};
    }
}

std::unique_ptr<Paths> Paths::makeDefault() {
    return std::make_unique<LinuxPaths>();
}

} // namespace platform
