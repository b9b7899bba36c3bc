#include "tools/KelvoEnvironment.h"

#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// A data-link argument names the file itself (relative names from the current directory),
// a file in the program's folder or one in the data-link folder, tried in that order.
QString resolveDataLinkArgument(const QString& argument, const TApplicationEnvironment& env) {
    for (const QString& candidate :
         {argument, env.ApplicationPath + argument, env.DataLinksPath + argument}) {
        if (fileExists(candidate))
            return candidate;
    }
    return {};
}

void readCommandLine(const QStringList& arguments, TApplicationEnvironment& env) {
    env.NoLogin = false;
    for (const QString& argument : arguments.mid(1)) {
        const QString upper = argument.toUpper();
        if (upper.contains(QStringLiteral(".UDL"))) {
            const QString file = resolveDataLinkArgument(argument, env);
            if (!file.isEmpty())
                env.DataProviderFile = file;
        } else if (upper.contains(QStringLiteral("NOLOGIN=1"))) {
            env.NoLogin = true;
        }
    }
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
    env.ConnectionString.clear();

    const QString setting =
        ReadSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"));
    env.DataProviderFile = fileExists(setting) ? setting : env.DataLinksPath + setting;
    readCommandLine(arguments, env);
    // An unreadable or binary file leaves the connection string empty, so that the login
    // looks for a usable file instead of trying a connection string without a provider.
    if (platform::profileFile().isReadable(env.DataProviderFile))
        env.ConnectionString =
            QStringLiteral("Provider=") +
            ReadIniString(env.DataProviderFile, QStringLiteral("oledb"), QStringLiteral("Provider"));

    env.SuiteDataPath = suiteDataFolder();
    ForgetProgressAppPath();
    return true;
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
