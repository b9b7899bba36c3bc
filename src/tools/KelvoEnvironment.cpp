#include "tools/KelvoEnvironment.h"

#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"

#include <QCoreApplication>
#include <QDir>

#include <stdexcept>

namespace {

constexpr int kIniStringLength = 254;

const QString kDataLinkFolder = QStringLiteral("System/Ole DB/Data Links/");
const QString kSuiteFolder = QStringLiteral("Kelvo/Kelvo Suite/");

QString withTrailingDelimiter(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

// A system folder with its trailing delimiter; throws `failureText` when the system has none.
QString requiredFolder(const QString& folder, const char* failureText) {
    if (folder.isEmpty())
        throw std::runtime_error(failureText);
    return withTrailingDelimiter(folder);
}

// The switch of the tools library; data-link arguments belong to the data-link file's choice.
bool noLoginSwitch(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        const QString upper = argument.toUpper();
        if (!upper.contains(QStringLiteral(".UDL")) && upper.contains(QStringLiteral("NOLOGIN=1")))
            return true;
    }
    return false;
}

// The suite's per-user data folder, created when missing; empty when that is impossible.
QString suiteDataFolder() {
    const QString appData = GetAppDataFolder();
    if (appData.isEmpty())
        return {};
    const QString folder = withTrailingDelimiter(appData) + kSuiteFolder;
    if (!QDir().mkpath(folder))
        return {};
    return folder;
}

} // namespace

TApplicationEnvironment& Environment() {
    static TApplicationEnvironment environment;
    return environment;
}

bool InitApplicationEnvironment() {
    return InitApplicationEnvironment(QCoreApplication::instance() ? QCoreApplication::arguments()
                                                                   : QStringList());
}

bool InitApplicationEnvironment(const QStringList& arguments) {
    TApplicationEnvironment& env = Environment();
    platform::Paths& paths = platform::paths();

    env.ApplicationPath = requiredFolder(paths.currentDirectory(), "Unable to get Current path");
    env.ApplicationKey = ApplicationKeyFor(env.ApplicationPath);
    env.UserKey = env.ApplicationKey;
    env.WindowsPath = requiredFolder(paths.windowsDirectory(), "Unable to get Windows path");
    env.SystemPath = requiredFolder(paths.systemDirectory(), "Unable to get System32 path");
    // Without a common program-files folder the data links are looked for in the machine
    // folder itself, so that they stay machine-wide.
    QString commonFiles = GetSpecialFolder(platform::ShellFolder::CommonProgramFiles);
    if (commonFiles.isEmpty())
        commonFiles = paths.machineDirectory();
    env.DataLinksPath = withTrailingDelimiter(commonFiles) + kDataLinkFolder;

    SelectDataLinkAtStart(env,
                          ReadSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider")),
                          arguments, withTrailingDelimiter(paths.executableDirectory()));
    env.NoLogin = noLoginSwitch(arguments);

    env.SuiteDataPath = suiteDataFolder();
    ForgetProgressAppPath();
    return !env.SuiteDataPath.isEmpty();
}

QString ApplicationKeyFor(const QString& folderPath) {
    QString key = folderPath;
    // The root folder "/" keeps its delimiter, so that its key is "_\" and not an empty name.
    if (key.size() > 1 && (key.endsWith(QLatin1Char('/')) || key.endsWith(QLatin1Char('\\'))))
        key.chop(1);
    key.replace(QLatin1Char(' '), QLatin1Char('_'));
    key.replace(QLatin1Char('\\'), QLatin1Char('_'));
    key.replace(QLatin1Char('/'), QLatin1Char('_'));
    key.remove(QLatin1Char(':'));
    return key + QLatin1Char('\\');
}

QString ReadIniString(const QString& fileName, const QString& section, const QString& key) {
    return platform::profileFile().readString(fileName, section, key, QString(), kIniStringLength);
}

QString GetSpecialFolder(int folderId) {
    return platform::paths().specialFolder(folderId);
}

QString GetAppDataFolder() {
    return GetSpecialFolder(platform::ShellFolder::AppData);
}
