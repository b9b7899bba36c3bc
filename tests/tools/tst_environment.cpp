#include "platform/LinuxPaths.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QtTest>

#include <stdexcept>

namespace {

QByteArray dataLinkFile(const QString& initString) {
    const QString text =
        QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") + initString +
        QStringLiteral("\r\n");
    return QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringConverter::Utf16LE).encode(text);
}

// The real folders, except the one a test takes away.
class FailingPaths : public platform::LinuxPaths {
public:
    enum class Missing { Current, Windows, System };
    explicit FailingPaths(Missing missing)
        : m_missing(missing) {}
    QString currentDirectory() override {
        return m_missing == Missing::Current ? QString() : LinuxPaths::currentDirectory();
    }
    QString windowsDirectory() override {
        return m_missing == Missing::Windows ? QString() : LinuxPaths::windowsDirectory();
    }
    QString systemDirectory() override {
        return m_missing == Missing::System ? QString() : LinuxPaths::systemDirectory();
    }

private:
    Missing m_missing;
};

const QString kProgram = QStringLiteral("/opt/ravlek/bin/ravlek");

bool sameEnvironment(const TApplicationEnvironment& a, const TApplicationEnvironment& b) {
    return a.ApplicationPath == b.ApplicationPath && a.ApplicationKey == b.ApplicationKey &&
           a.UserKey == b.UserKey && a.WindowsPath == b.WindowsPath && a.SystemPath == b.SystemPath &&
           a.DataLinksPath == b.DataLinksPath && a.DataProviderFile == b.DataProviderFile &&
           a.ConnectionString == b.ConnectionString && a.SuiteDataPath == b.SuiteDataPath &&
           a.NoLogin == b.NoLogin;
}

} // namespace

class tst_Environment : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void applicationKey_data();
    void applicationKey();
    void folders();
    void applicationPathIsTheCurrentDirectory();
    void systemFolderFailures_data();
    void systemFolderFailures();
    void removedCurrentDirectory();
    void dataProviderFromSetting_data();
    void dataProviderFromSetting();
    void dataLinkArguments_data();
    void dataLinkArguments();
    void connectionString_data();
    void connectionString();
    void suiteFolderThatCannotBeCreated();
    void secondCallGivesSameValues();
    void readIniStringCutsAt254();
};

void tst_Environment::applicationKey_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("key");
    QTest::newRow("Linux folder with a space")
        << QStringLiteral("/home/ann/Dental Apps/Xray/") << QStringLiteral("_home_ann_Dental_Apps_Xray\\");
    QTest::newRow("without trailing delimiter")
        << QStringLiteral("/srv/xray") << QStringLiteral("_srv_xray\\");
    QTest::newRow("letter case kept") << QStringLiteral("/Home/Ann/") << QStringLiteral("_Home_Ann\\");
    QTest::newRow("colon removed") << QStringLiteral("/data/a:b/") << QStringLiteral("_data_ab\\");
    QTest::newRow("Windows folder") << QStringLiteral("C:\\Apps\\Xray\\") << QStringLiteral("C_Apps_Xray\\");
    QTest::newRow("Windows folder with a space")
        << QStringLiteral("D:\\Dental Apps\\Xray\\") << QStringLiteral("D_Dental_Apps_Xray\\");
    QTest::newRow("Windows drive root") << QStringLiteral("C:\\") << QStringLiteral("C\\");
    QTest::newRow("root folder keeps a name") << QStringLiteral("/") << QStringLiteral("_\\");
}

void tst_Environment::applicationKey() {
    QFETCH(QString, folder);
    QFETCH(QString, key);
    QCOMPARE(ApplicationKeyFor(folder), key);
}

void tst_Environment::folders() {
    TestEnvironment env;
    QVERIFY(InitApplicationEnvironment({kProgram}));
    const TApplicationEnvironment& values = Environment();
    QCOMPARE(values.DataLinksPath,
             env.path(QStringLiteral("machine/Common Files/System/Ole DB/Data Links/")));
    QCOMPARE(values.SuiteDataPath, env.path(QStringLiteral("data/Kelvo/Kelvo Suite/")));
    QVERIFY(QFileInfo(values.SuiteDataPath).isDir());
    QCOMPARE(values.WindowsPath, QStringLiteral("/usr/"));
    QCOMPARE(values.SystemPath, QStringLiteral("/usr/lib/"));
    QCOMPARE(GetAppDataFolder(), env.path(QStringLiteral("data")));
    QCOMPARE(GetSpecialFolder(9999), QString());
    QVERIFY(!values.NoLogin);
}

void tst_Environment::applicationPathIsTheCurrentDirectory() {
    TestEnvironment env;
    const QString folder = env.makeFolder(QStringLiteral("Dental Apps/Xray"));
    QVERIFY(QDir::setCurrent(folder));
    QVERIFY(InitApplicationEnvironment({kProgram}));
    QCOMPARE(Environment().ApplicationPath, folder + QLatin1Char('/'));
    QVERIFY(Environment().ApplicationPath != QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    QCOMPARE(Environment().ApplicationKey, ApplicationKeyFor(folder));
    QVERIFY(Environment().ApplicationKey.endsWith(QStringLiteral("_Dental_Apps_Xray\\")));
    QCOMPARE(Environment().UserKey, Environment().ApplicationKey);
}

void tst_Environment::systemFolderFailures_data() {
    QTest::addColumn<int>("missing");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("applicationPathSet");
    QTest::addColumn<bool>("windowsPathSet");
    QTest::newRow("current") << int(FailingPaths::Missing::Current)
                             << QStringLiteral("Unable to get Current path") << false << false;
    QTest::newRow("windows") << int(FailingPaths::Missing::Windows)
                             << QStringLiteral("Unable to get Windows path") << true << false;
    QTest::newRow("system") << int(FailingPaths::Missing::System)
                            << QStringLiteral("Unable to get System32 path") << true << true;
}

void tst_Environment::systemFolderFailures() {
    QFETCH(int, missing);
    QFETCH(QString, message);
    QFETCH(bool, applicationPathSet);
    QFETCH(bool, windowsPathSet);
    TestEnvironment env;
    Environment() = TApplicationEnvironment();
    FailingPaths paths(static_cast<FailingPaths::Missing>(missing));
    platform::ScopedPort<platform::Paths> scope(paths);
    try {
        InitApplicationEnvironment({kProgram});
        QFAIL("no exception");
    } catch (const std::runtime_error& error) {
        QCOMPARE(QString::fromUtf8(error.what()), message);
    }
    // The steps done before the failure keep their new values; the rest stays as it was.
    QCOMPARE(!Environment().ApplicationPath.isEmpty(), applicationPathSet);
    QCOMPARE(!Environment().WindowsPath.isEmpty(), windowsPathSet);
    QVERIFY(Environment().SystemPath.isEmpty());
    QVERIFY(Environment().DataLinksPath.isEmpty());
}

void tst_Environment::removedCurrentDirectory() {
    TestEnvironment env;
    const QString doomed = env.makeFolder(QStringLiteral("doomed"));
    QVERIFY(QDir::setCurrent(doomed));
    QVERIFY(QDir().rmdir(doomed));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, InitApplicationEnvironment({kProgram}));
}

void tst_Environment::dataProviderFromSetting_data() {
    QTest::addColumn<QString>("setting"); // "-": none stored; "<root>/" is replaced by the test root
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expected"); // "<links>/" the data-link folder, "<root>/" the test root
    const QString links = QStringLiteral("<links>/");
    QTest::newRow("missing setting names ERROR in the data-link folder")
        << QStringLiteral("-") << QStringList() << links + QStringLiteral("ERROR");
    QTest::newRow("bare name in the data-link folder")
        << QStringLiteral("main.udl") << QStringList{links + QStringLiteral("main.udl")}
        << links + QStringLiteral("main.udl");
    QTest::newRow("bare name that exists nowhere")
        << QStringLiteral("gone.udl") << QStringList() << links + QStringLiteral("gone.udl");
    QTest::newRow("full path of an existing file")
        << QStringLiteral("<root>/elsewhere/db.udl") << QStringList{QStringLiteral("<root>/elsewhere/db.udl")}
        << QStringLiteral("<root>/elsewhere/db.udl");
    QTest::newRow("bare name in the current directory")
        << QStringLiteral("here.udl")
        << QStringList{QStringLiteral("<root>/cwd/here.udl"), links + QStringLiteral("here.udl")}
        << QStringLiteral("here.udl");
}

void tst_Environment::dataProviderFromSetting() {
    QFETCH(QString, setting);
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    TestEnvironment env;
    QVERIFY(InitApplicationEnvironment({kProgram}));
    const auto resolve = [&](QString text) {
        text.replace(QStringLiteral("<links>/"), Environment().DataLinksPath);
        return text.replace(QStringLiteral("<root>"), env.root());
    };
    for (const QString& file : files)
        env.writeFile(QDir(env.root()).relativeFilePath(resolve(file)),
                      dataLinkFile(QStringLiteral("Provider=X")));
    if (setting != QStringLiteral("-"))
        WriteSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"), resolve(setting));
    QVERIFY(InitApplicationEnvironment({kProgram}));
    QCOMPARE(Environment().DataProviderFile, resolve(expected));
    QCOMPARE(Environment().ConnectionString, files.isEmpty() ? QString() : QStringLiteral("Provider=X"));
}

void tst_Environment::dataLinkArguments_data() {
    QTest::addColumn<QStringList>("arguments"); // after the program's own name
    QTest::addColumn<QStringList>("files");     // "cwd/..." or "links/..."
    QTest::addColumn<QString>("expected");      // "<links>/" and "<root>/" as above; "-" the setting's file
    QTest::addColumn<bool>("noLogin");

    const QString setting = QStringLiteral("-");
    QTest::newRow("name in the data-link folder, any letter case")
        << QStringList{QStringLiteral("Clinic.Udl")} << QStringList{QStringLiteral("links/Clinic.Udl")}
        << QStringLiteral("<links>/Clinic.Udl") << false;
    QTest::newRow("full path used unchanged")
        << QStringList{QStringLiteral("<root>/other/x.udl")} << QStringList{QStringLiteral("other/x.udl")}
        << QStringLiteral("<root>/other/x.udl") << false;
    QTest::newRow("current directory before the data-link folder")
        << QStringList{QStringLiteral("x.udl")}
        << QStringList{QStringLiteral("cwd/x.udl"), QStringLiteral("links/x.udl")} << QStringLiteral("x.udl")
        << false;
    QTest::newRow("relative path from the program folder")
        << QStringList{QStringLiteral("sub/x.udl")} << QStringList{QStringLiteral("cwd/sub/x.udl")}
        << QStringLiteral("sub/x.udl") << false;
    QTest::newRow("found nowhere: ignored")
        << QStringList{QStringLiteral("none.udl")} << QStringList() << setting << false;
    QTest::newRow("last that resolves wins")
        << QStringList{QStringLiteral("a.udl"), QStringLiteral("b.udl"), QStringLiteral("c.udl")}
        << QStringList{QStringLiteral("links/a.udl"), QStringLiteral("links/b.udl")}
        << QStringLiteral("<links>/b.udl") << false;
    QTest::newRow("program's own name is no argument")
        << QStringList() << QStringList{QStringLiteral("cwd/ravlek.udl")} << setting << false;
    QTest::newRow("nologin in lower case")
        << QStringList{QStringLiteral("nologin=1")} << QStringList() << setting << true;
    QTest::newRow("nologin inside a longer argument")
        << QStringList{QStringLiteral("-XNOLOGIN=1Y")} << QStringList() << setting << true;
    QTest::newRow("data-link argument with NOLOGIN=1 counts as data link only")
        << QStringList{QStringLiteral("NOLOGIN=1.udl")} << QStringList{QStringLiteral("links/NOLOGIN=1.udl")}
        << QStringLiteral("<links>/NOLOGIN=1.udl") << false;
    QTest::newRow("NOLOGIN=0") << QStringList{QStringLiteral("NOLOGIN=0")} << QStringList() << setting
                               << false;
}

void tst_Environment::dataLinkArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    QFETCH(bool, noLogin);
    TestEnvironment env;
    QVERIFY(InitApplicationEnvironment({kProgram}));
    const QString links = Environment().DataLinksPath;
    for (QString file : files) {
        file.replace(QStringLiteral("links/"), QDir(env.root()).relativeFilePath(links) + QLatin1Char('/'));
        env.writeFile(file, dataLinkFile(QStringLiteral("Provider=") + file));
    }
    const QString settingFile = links + QStringLiteral("ERROR");
    QStringList commandLine{kProgram};
    for (const QString& argument : std::as_const(arguments))
        commandLine.append(QString(argument).replace(QStringLiteral("<root>"), env.root()));
    if (files.contains(QStringLiteral("cwd/ravlek.udl")))
        commandLine[0] = QStringLiteral("ravlek.udl");
    QVERIFY(InitApplicationEnvironment(commandLine));

    const QString want = expected == QStringLiteral("-") ? settingFile
                                                         : QString(expected)
                                                               .replace(QStringLiteral("<links>/"), links)
                                                               .replace(QStringLiteral("<root>"), env.root());
    QCOMPARE(Environment().DataProviderFile, want);
    QCOMPARE(Environment().NoLogin, noLogin);
    QCOMPARE(Environment().ConnectionString.isEmpty(), expected == QStringLiteral("-"));

    // Each set-up starts afresh: the switch does not linger.
    QVERIFY(InitApplicationEnvironment({kProgram}));
    QVERIFY(!Environment().NoLogin);
}

void tst_Environment::connectionString_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("data-link file")
        << dataLinkFile(
               QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Dent"))
        << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=Dent");
    QTest::newRow("no Provider line")
        << dataLinkFile(QStringLiteral("Other=1")) << QStringLiteral("Provider=");
    QTest::newRow("8-bit file") << QByteArray("[oledb]\nProvider=SQLite;Data Source=/x.db\n")
                                << QStringLiteral("Provider=SQLite;Data Source=/x.db");
    QTest::newRow("binary garbage") << QByteArray("\x00\x01\x02[oledb]\nProvider=x", 22) << QString();
}

void tst_Environment::connectionString() {
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    TestEnvironment env;
    env.writeFile(QStringLiteral("cwd/db.udl"), content);
    QVERIFY(InitApplicationEnvironment({kProgram, QStringLiteral("db.udl")}));
    QCOMPARE(Environment().DataProviderFile, QStringLiteral("db.udl"));
    QCOMPARE(Environment().ConnectionString, expected);
}

void tst_Environment::suiteFolderThatCannotBeCreated() {
    TestEnvironment env;
    env.setVariable("XDG_DATA_HOME", env.writeFile(QStringLiteral("a-file"), "x"));
    // Not reported to the user, but the set-up answers that it is incomplete.
    QVERIFY(!InitApplicationEnvironment({kProgram}));
    QCOMPARE(Environment().SuiteDataPath, QString());
    QVERIFY(!Environment().DataLinksPath.isEmpty());
}

void tst_Environment::secondCallGivesSameValues() {
    TestEnvironment env;
    env.writeFile(QStringLiteral("cwd/db.udl"), dataLinkFile(QStringLiteral("Provider=SQLite")));
    const QStringList commandLine{kProgram, QStringLiteral("db.udl"), QStringLiteral("NOLOGIN=1")};
    QVERIFY(InitApplicationEnvironment(commandLine));
    const TApplicationEnvironment first = Environment();
    const QString kept = env.writeFile(QStringLiteral("data/Kelvo/Kelvo Suite/kept.txt"), "kept");
    QVERIFY(InitApplicationEnvironment(commandLine));
    QVERIFY(sameEnvironment(Environment(), first));
    QVERIFY(first.NoLogin);
    QCOMPARE(first.ConnectionString, QStringLiteral("Provider=SQLite"));
    QVERIFY(QFile::exists(kept));
}

void tst_Environment::readIniStringCutsAt254() {
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("long.udl"),
                                       dataLinkFile(QStringLiteral("Provider=") + QString(300, u'p')));
    QCOMPARE(ReadIniString(file, QStringLiteral("OLEDB"), QStringLiteral("provider")), QString(254, u'p'));
    QCOMPARE(ReadIniString(file, QStringLiteral("oledb"), QStringLiteral("missing")), QString());
    QCOMPARE(ReadIniString(env.path(QStringLiteral("none.udl")), QStringLiteral("oledb"),
                           QStringLiteral("Provider")),
             QString());
}

QTEST_GUILESS_MAIN(tst_Environment)
#include "tst_environment.moc"
