#include "platform/LinuxPaths.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using platform::LinuxPaths;
namespace ShellFolder = platform::ShellFolder;

class tst_Paths : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void userFoldersFollowXdg();
    void xdgDefaultsAndRelativeValues_data();
    void xdgDefaultsAndRelativeValues();
    void machineFolderDefaultAndOverride();
    void relativeKelvoVariableIsTakenFromCurrentDirectory();
    void simulatorFolderDefaultsIntoRuntimeFolder();
    void runtimeFolderWithoutXdgIsPrivate();
    void specialFolders_data();
    void specialFolders();
    void windowsAndSystemFolders();
    void currentDirectoryAndItsRemoval();
};

void tst_Paths::userFoldersFollowXdg() {
    TestEnvironment env;
    LinuxPaths paths;
    env.setVariable("XDG_CONFIG_HOME", env.path(QStringLiteral("config/")));
    QCOMPARE(paths.userConfigDirectory(), env.path(QStringLiteral("config")));
    QCOMPARE(paths.userDataDirectory(), env.path(QStringLiteral("data")));
    QCOMPARE(paths.userStateDirectory(), env.path(QStringLiteral("state")));
    QCOMPARE(paths.runtimeDirectory(), env.path(QStringLiteral("runtime")));
    QCOMPARE(paths.simulatorDirectory(), env.path(QStringLiteral("sim")));
}

void tst_Paths::xdgDefaultsAndRelativeValues_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("unset") << QString();
    QTest::newRow("relative, ignored as the XDG rules say") << QStringLiteral("relative/config");
}

void tst_Paths::xdgDefaultsAndRelativeValues() {
    QFETCH(QString, value);
    TestEnvironment env;
    env.setVariable("HOME", env.path(QStringLiteral("home")));
    env.setVariable("XDG_CONFIG_HOME", value);
    env.setVariable("XDG_DATA_HOME", value);
    env.setVariable("XDG_STATE_HOME", value);
    LinuxPaths paths;
    QCOMPARE(paths.userConfigDirectory(), env.path(QStringLiteral("home/.config")));
    QCOMPARE(paths.userDataDirectory(), env.path(QStringLiteral("home/.local/share")));
    QCOMPARE(paths.userStateDirectory(), env.path(QStringLiteral("home/.local/state")));
}

void tst_Paths::machineFolderDefaultAndOverride() {
    TestEnvironment env;
    LinuxPaths paths;
    QCOMPARE(paths.machineDirectory(), env.path(QStringLiteral("machine")));
    env.setVariable("KELVO_MACHINE_DIR", QString());
    QCOMPARE(paths.machineDirectory(), QStringLiteral("/etc/kelvo"));
}

void tst_Paths::relativeKelvoVariableIsTakenFromCurrentDirectory() {
    TestEnvironment env;
    env.setVariable("KELVO_MACHINE_DIR", QStringLiteral("elsewhere/machine/"));
    QCOMPARE(LinuxPaths().machineDirectory(), env.path(QStringLiteral("cwd/elsewhere/machine")));
}

void tst_Paths::simulatorFolderDefaultsIntoRuntimeFolder() {
    TestEnvironment env;
    env.setVariable("KELVO_SIM_DIR", QString());
    QCOMPARE(LinuxPaths().simulatorDirectory(), env.path(QStringLiteral("runtime/kelvo-sim")));
}

void tst_Paths::runtimeFolderWithoutXdgIsPrivate() {
    TestEnvironment env;
    env.setVariable("XDG_RUNTIME_DIR", QString());
    const QString folder = LinuxPaths().runtimeDirectory();
    QCOMPARE(folder, QStringLiteral("/tmp/kelvo-runtime-%1").arg(::getuid()));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(info.st_uid, ::getuid());
}

void tst_Paths::specialFolders_data() {
    QTest::addColumn<int>("folderId");
    QTest::addColumn<QString>("relative"); // inside the test root; "-" for none
    QTest::newRow("26 application data") << ShellFolder::AppData << QStringLiteral("data");
    QTest::newRow("28 local application data") << ShellFolder::LocalAppData << QStringLiteral("data");
    QTest::newRow("35 common application data")
        << ShellFolder::CommonAppData << QStringLiteral("machine/ProgramData");
    QTest::newRow("38 program files") << ShellFolder::ProgramFiles << QStringLiteral("machine/Program Files");
    QTest::newRow("43 common program files")
        << ShellFolder::CommonProgramFiles << QStringLiteral("machine/Common Files");
    QTest::newRow("40 profile") << ShellFolder::Profile << QStringLiteral("home");
    QTest::newRow("7 start-up menu: none") << 7 << QStringLiteral("-");
    QTest::newRow("negative: none") << -1 << QStringLiteral("-");
}

void tst_Paths::specialFolders() {
    QFETCH(int, folderId);
    QFETCH(QString, relative);
    TestEnvironment env;
    env.setVariable("HOME", env.path(QStringLiteral("home")));
    const QString expected = relative == QStringLiteral("-") ? QString() : env.path(relative);
    QCOMPARE(LinuxPaths().specialFolder(folderId), expected);
}

void tst_Paths::windowsAndSystemFolders() {
    TestEnvironment env;
    env.setVariable("KELVO_WINDOWS_DIR", QString());
    env.setVariable("KELVO_SYSTEM_DIR", QString());
    LinuxPaths paths;
    QCOMPARE(paths.windowsDirectory(), QStringLiteral("/usr"));
    QCOMPARE(paths.systemDirectory(), QStringLiteral("/usr/lib"));
    QCOMPARE(paths.specialFolder(ShellFolder::Windows), QStringLiteral("/usr"));
    env.setVariable("KELVO_WINDOWS_DIR", env.path(QStringLiteral("win")));
    env.setVariable("KELVO_SYSTEM_DIR", env.path(QStringLiteral("win/system32")));
    QCOMPARE(paths.windowsDirectory(), env.path(QStringLiteral("win")));
    QCOMPARE(paths.specialFolder(ShellFolder::System), env.path(QStringLiteral("win/system32")));
}

void tst_Paths::currentDirectoryAndItsRemoval() {
    TestEnvironment env;
    LinuxPaths paths;
    QCOMPARE(paths.currentDirectory(), QFileInfo(env.path(QStringLiteral("cwd"))).canonicalFilePath());
    const QString doomed = env.makeFolder(QStringLiteral("doomed"));
    QVERIFY(QDir::setCurrent(doomed));
    QVERIFY(QDir().rmdir(doomed));
    QCOMPARE(paths.currentDirectory(), QString());
}

QTEST_GUILESS_MAIN(tst_Paths)
#include "tst_paths.moc"
