// The settings window's connection: finding the data-link file, connecting, creating the
// missing tables and opening the register, on SQLite and PostgreSQL.

#include "SettingsFixture.h"

#include "database/KelvoLogin.h"
#include "platform/ProfileFile.h"
#include "settings/Udataproviders.h"
#include "support/ModalWindows.h"
#include "support/ScriptedDialogs.h"
#include "tools/KelvoSettings.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace settingsfixture;
using platform::DialogButton;
using platform::DialogKind;

namespace {

// A profile reader that fails, as an unreadable data-link file would make it.
class FailingProfileFile : public platform::ProfileFile {
public:
    QString readString(const QString&, const QString&, const QString&, const QString&, int) override {
        throw std::runtime_error("the profile file cannot be read");
    }
    bool isReadable(const QString&) override { return true; }
    bool writeString(const QString&, const QString&, const QString&, const QString&) override {
        return false;
    }
};

const QStringList kWorkstationColumns{
    QStringLiteral("COMPUTERNAME VARCHAR(50) NOT NULL"), QStringLiteral("XRAYSTATION VARCHAR(30) NOT NULL"),
    QStringLiteral("XRAYSTATIONID VARCHAR(20) NOT NULL"), QStringLiteral("STATIONID VARCHAR(100) NOT NULL"),
    QStringLiteral("IPADRESS VARCHAR(20) NULL")};
const QStringList kLockColumns{
    QStringLiteral("COMPUTERNAME VARCHAR(50) NOT NULL"), QStringLiteral("XRAYSTATION VARCHAR(30) NOT NULL"),
    QStringLiteral("XRAYSTATIONID VARCHAR(20) NOT NULL"), QStringLiteral("LOCKNUMBER INT NOT NULL")};

struct Grab {
    QList<bool> calls;
    TSettingsLinks links() {
        TSettingsLinks links;
        links.SetGrabEnabled = [this](bool enabled) { calls.append(enabled); };
        return links;
    }
};

} // namespace

class TestSettingsConnect : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_pg.create(QStringLiteral("settingsconnect")); }

    void freshDatabaseGetsBothTables_data() { engineRows(); }
    void freshDatabaseGetsBothTables();
    void existingTablesAreLeftAndRegisterIsOrdered_data() { engineRows(); }
    void existingTablesAreLeftAndRegisterIsOrdered();
    void failedConnectionIsReported_data() { engineRows(); }
    void failedConnectionIsReported();
    void failedLoginStepShowsOnlyItsOwnMessage();
    void terminatedServerIsReportedAndLaterConnectSucceeds();
    void unreadableTableCountsAsMissing();
    void selectDisconnectsUntilConnect();
    void dataLinkArgument_data();
    void dataLinkArgument();

private:
    bool prepareEngine() { return currentEngine() != kPostgres || m_pg.prepare(); }

    PgDatabase m_pg;
};

void TestSettingsConnect::freshDatabaseGetsBothTables() {
    if (!prepareEngine())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"),
                               installation.connectionString(currentEngine(), m_pg));
    ScriptedDialogs dialogs;
    Grab grab;
    TfrmSettings window(installation.database, grab.links());
    QVERIFY(window.ConnectButton->isEnabled());
    QVERIFY(!window.ConnectCover->isHidden());

    window.ConnectButton->click();

    QCOMPARE(grab.calls, QList<bool>{true});
    QVERIFY(window.Database().Database1->Connected());
    QVERIFY(window.Database().Database1->InTransaction());
    QVERIFY(!window.ConnectButton->isEnabled());
    QVERIFY(window.ConnectCover->isHidden());
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("Practice.udl"));
    QVERIFY(window.Database().QXRAYWORKSTATIONS->Active());
    QCOMPARE(window.RegisterGrid->model()->rowCount(), 0);

    auto other = installation.connect(currentEngine(), m_pg);
    const TableShape workstations = tableShape(*other, QStringLiteral("XRAYWORKSTATIONS"));
    QCOMPARE(workstations.columns, kWorkstationColumns);
    QCOMPARE(workstations.primaryKey, QStringLiteral("PK_XRAYWORKSTATIONS"));
    QCOMPARE(workstations.keyColumns,
             QStringList({QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"),
                          QStringLiteral("XRAYSTATIONID")}));
    const TableShape locks = tableShape(*other, QStringLiteral("XRAYDEVICELOCKLIST"));
    QCOMPARE(locks.columns, kLockColumns);
    QCOMPARE(locks.primaryKey, QStringLiteral("PK_XRAYDEVICELOCKLIST"));
    QCOMPARE(locks.keyColumns, QStringList({QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"),
                                            QStringLiteral("XRAYSTATIONID"), QStringLiteral("LOCKNUMBER")}));
}

void TestSettingsConnect::existingTablesAreLeftAndRegisterIsOrdered() {
    if (!prepareEngine())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"),
                               installation.connectionString(currentEngine(), m_pg));
    auto other = installation.connect(currentEngine(), m_pg);
    // A lock list of an older make, with a column of its own: it must not be made anew.
    other->BeginTrans();
    TADOQuery create;
    create.SetConnection(other.get());
    create.SetSQL(CreateXrayWorkstationsSql(other->Engine()));
    create.ExecSQL();
    other->Execute(QStringLiteral("CREATE TABLE XRAYDEVICELOCKLIST (COMPUTERNAME VARCHAR(50) NOT NULL, "
                                  "XRAYSTATION VARCHAR(30) NOT NULL, XRAYSTATIONID VARCHAR(20) NOT NULL, "
                                  "LOCKNUMBER INT NOT NULL, NOTE VARCHAR(10) NULL)"));
    insertStation(*other, QStringLiteral("PC3"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                  QStringLiteral("Room C"));
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Cranex D"), QStringLiteral("C1"),
                  QStringLiteral("Room A"));
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room B"));
    insertLock(*other, QStringLiteral("PC9"), QStringLiteral("Sopix"), QStringLiteral("S1"), 1);
    other->CommitTrans();

    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    QCOMPARE(gridColumn(window, QStringLiteral("Workstationname")),
             QStringList({QStringLiteral("PC1"), QStringLiteral("PC2"), QStringLiteral("PC3")}));
    QCOMPARE(gridColumn(window, QStringLiteral("Xraystation")),
             QStringList({QStringLiteral("Cranex D"), QStringLiteral("Digora"), QStringLiteral("Sopix")}));
    QCOMPARE(gridColumn(window, QStringLiteral("XraystationID")),
             QStringList({QStringLiteral("C1"), QStringLiteral("D1"), QStringLiteral("S1")}));
    QCOMPARE(tableShape(*other, QStringLiteral("XRAYDEVICELOCKLIST")).columns.size(), 5);
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST")).toInt(), 1);
}

void TestSettingsConnect::failedConnectionIsReported() {
    if (!prepareEngine())
        return;
    Installation installation;
    QString server;
    QString database;
    QString user;
    if (currentEngine() == kSqlite) {
        // A database file below a plain file cannot be made.
        installation.env.writeFile(QStringLiteral("plain"), "not a folder");
        server = installation.env.path(QStringLiteral("plain/ravlek.sqlite"));
        installation.writeDataLink(QStringLiteral("Practice.udl"),
                                   QStringLiteral("Provider=SQLite;Data Source=") + server);
        user = BuiltInLoginName(); // no login in the file, and no database to fetch one from
    } else {
        server = pgVariable("HOST") + QLatin1Char(':') + pgVariable("PORT");
        database = m_pg.name();
        user = pgVariable("USER");
        installation.writeDataLink(QStringLiteral("Practice.udl"),
                                   pgConnectionString(database, user, QStringLiteral("wrong password")));
    }
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("Det gick inte att ansluta till databasen ") + server +
                   QStringLiteral(": ") + database + QStringLiteral(" med användarnamnet ") + user +
                   QStringLiteral("\r\r"));
    Grab grab;
    TfrmSettings window(installation.database, grab.links());

    window.ConnectButton->click();

    QVERIFY(dialogs.allAnswered());
    QCOMPARE(dialogs.shown().size(), 1);
    QCOMPARE(dialogs.shown().first().kind, DialogKind::Warning);
    const QString failure = dialogs.shown().first().text.section(QStringLiteral("\r\r"), 1);
    QVERIFY2(!failure.trimmed().isEmpty(), "the failure's own text follows the lead-in");
    QCOMPARE(grab.calls, QList<bool>{false});
    QVERIFY(!window.Database().Database1->Connected());
    QVERIFY(window.ConnectButton->isEnabled());
    QVERIFY(!window.ConnectCover->isHidden());
}

void TestSettingsConnect::failedLoginStepShowsOnlyItsOwnMessage() {
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"), installation.sqliteConnectionString());
    // The file is found only when connecting, so that the login step reads it.
    ScriptedDialogs dialogs;
    Grab grab;
    TfrmSettings window(installation.database, grab.links());
    QVERIFY(Environment().ConnectionString.isEmpty());
    FailingProfileFile failing;
    platform::ScopedPort<platform::ProfileFile> scope(failing);
    dialogs.expectExactly(
        DialogKind::Error,
        QStringLiteral("Det gick inte att hämta användarnamn och lösenord till databasen!\r\r"
                       "the profile file cannot be read"));

    window.ConnectButton->click();

    QVERIFY(dialogs.allAnswered());
    QCOMPARE(grab.calls, QList<bool>{false});
    QVERIFY(!window.Database().Database1->Connected());
    QVERIFY(window.ConnectButton->isEnabled());
    QVERIFY(!window.ConnectCover->isHidden());
}

void TestSettingsConnect::terminatedServerIsReportedAndLaterConnectSucceeds() {
    if (!m_pg.prepare())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"), pgConnectionString(m_pg.name()));
    auto administrator = installation.connect(kPostgres, m_pg);
    createTables(*administrator);
    insertStation(*administrator, QStringLiteral("PC1"), QStringLiteral("Digora OPTIME"),
                  QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    insertLock(*administrator, QStringLiteral("PC1"), QStringLiteral("Digora OPTIME"), QStringLiteral("OPT1"),
               1);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    const int pid = scalar(*window.Database().Database1, QStringLiteral("SELECT pg_backend_pid()")).toInt();
    QVERIFY(scalar(*administrator, QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid)).toBool());
    QTRY_COMPARE_WITH_TIMEOUT(
        scalar(*administrator,
               QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE pid = %1").arg(pid))
            .toInt(),
        0, 20000);

    dialogs.expect(QStringLiteral("Remove all current locks on Digora OPTIME - OPT1?"), DialogButton::Yes)
        .expect(QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r"));
    window.Removealllocksonselecteddevice1Click();
    QVERIFY(dialogs.allAnswered());
    QCOMPARE(scalar(*administrator, QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST")).toInt(), 1);

    QVERIFY(window.ConnectToDatabase());
    QVERIFY(window.Database().Database1->InTransaction());
    QCOMPARE(gridColumn(window, QStringLiteral("XraystationID")), QStringList{QStringLiteral("OPT1")});
}

void TestSettingsConnect::unreadableTableCountsAsMissing() {
    if (!m_pg.prepare())
        return;
    Installation installation;
    auto administrator = installation.connect(kPostgres, m_pg);
    createTables(*administrator);
    insertStation(*administrator, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room 1"));
    const QString reader = m_pg.makeRole(QStringLiteral("reader"));
    // The reader may look into the schema and read the lock list, but not the register.
    administrator->Execute(QStringLiteral("GRANT USAGE ON SCHEMA public TO ") + reader);
    administrator->Execute(QStringLiteral("GRANT SELECT ON XRAYDEVICELOCKLIST TO ") + reader);
    installation.writeDataLink(QStringLiteral("Practice.udl"),
                               pgConnectionString(m_pg.name(), reader, QStringLiteral("reader")));
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("Det gick inte att ansluta till databasen "));
    TfrmSettings window(installation.database);

    QVERIFY(!window.ConnectToDatabase());

    QVERIFY(dialogs.allAnswered());
    QVERIFY2(dialogs.shown().first().text.contains(QStringLiteral("permission denied")),
             qPrintable(dialogs.shown().first().text));
    QCOMPARE(scalar(*administrator, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 1);

    // The same probe on a connection that may read the table finds it.
    window.Database().Database1->SetConnectionString(pgConnectionString(m_pg.name()));
    window.Database().Database1->Open();
    QVERIFY(window.TableExists(QStringLiteral("XRAYWORKSTATIONS")));
    window.Database().Database1->Close();
    window.Database().Database1->SetConnectionString(
        pgConnectionString(m_pg.name(), reader, QStringLiteral("reader")));
    window.Database().Database1->Open();
    QVERIFY(window.TableExists(QStringLiteral("XRAYDEVICELOCKLIST")));
    QVERIFY(!window.TableExists(QStringLiteral("XRAYWORKSTATIONS")));
}

void TestSettingsConnect::selectDisconnectsUntilConnect() {
    Installation installation;
    const QString first =
        installation.writeDataLink(QStringLiteral("First.udl"), installation.sqliteConnectionString());
    installation.writeDataLink(QStringLiteral("Second.udl"),
                               installation.sqliteConnectionString(QStringLiteral("second/ravlek.sqlite")));
    WriteSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"), first);
    InitApplicationEnvironment({QStringLiteral("ravlek")}); // a start with that default stored
    ScriptedDialogs dialogs;
    Grab grab;
    TfrmSettings window(installation.database, grab.links());
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("First.udl"));
    window.ConnectButton->click();
    QVERIFY(window.Database().Database1->Connected());

    chooseDataProviderWhenAsked(QStringLiteral("Second.udl"));
    window.SelectButton->click();

    QCOMPARE(Environment().DataProviderFile, installation.dataLinksPath() + QStringLiteral("Second.udl"));
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("Second.udl"));
    QVERIFY(!window.Database().Database1->Connected());
    QVERIFY(window.ConnectButton->isEnabled());
    QVERIFY(!window.ConnectCover->isHidden());
    QCOMPARE(grab.calls, QList<bool>({true, false}));

    window.ConnectButton->click();
    QCOMPARE(grab.calls, QList<bool>({true, false, true}));
    QVERIFY(window.Database().Database1->ConnectionString().contains(
        installation.env.path(QStringLiteral("second/ravlek.sqlite"))));
    QVERIFY(QFileInfo::exists(installation.env.path(QStringLiteral("second/ravlek.sqlite"))));
}

void TestSettingsConnect::dataLinkArgument_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // file the window takes, relative to the test folder

    QTest::newRow("stored default") << QStringList{}
                                    << QStringLiteral(
                                           "machine/Common Files/System/Ole DB/Data Links/Stored.udl");
    QTest::newRow("only in the program folder")
        << QStringList{QStringLiteral("Site.udl")} << QStringLiteral("bin/Site.udl");
    QTest::newRow("current folder before program folder")
        << QStringList{QStringLiteral("Both.udl")} << QStringLiteral("cwd/Both.udl");
    QTest::newRow("data-link folder")
        << QStringList{QStringLiteral("Links.UDL")}
        << QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Links.UDL");
    QTest::newRow("missing file leaves the default")
        << QStringList{QStringLiteral("Nowhere.udl")}
        << QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Stored.udl");
    QTest::newRow("later argument wins")
        << QStringList{QStringLiteral("Site.udl"), QStringLiteral("NOLOGIN=1"), QStringLiteral("Links.UDL")}
        << QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Links.UDL");
    QTest::newRow("other arguments are passed over")
        << QStringList{QStringLiteral("PNR=12"), QStringLiteral("OUTDIR=/tmp/x")}
        << QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Stored.udl");
}

void TestSettingsConnect::dataLinkArgument() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    Installation installation;
    const QString stored =
        installation.writeDataLink(QStringLiteral("Stored.udl"), installation.sqliteConnectionString());
    installation.writeDataLink(QStringLiteral("Links.UDL"),
                               QStringLiteral("Provider=PostgreSQL;Data Source=links"));
    WriteSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"), stored);
    const QString programDir = installation.env.makeFolder(QStringLiteral("bin")) + QLatin1Char('/');
    QVERIFY(WriteDataLinkFile(programDir + QStringLiteral("Site.udl"),
                              QStringLiteral("Provider=SQLNCLI11;Data Source=site")));
    QVERIFY(WriteDataLinkFile(programDir + QStringLiteral("Both.udl"),
                              QStringLiteral("Provider=SQLOLEDB.1;Data Source=bin")));
    QVERIFY(WriteDataLinkFile(installation.env.path(QStringLiteral("cwd/Both.udl")),
                              QStringLiteral("Provider=SQLOLEDB.1;Data Source=cwd")));

    // The data-link file is decided once at start, from the stored default and the command line.
    SelectDataLinkAtStart(Environment(),
                          ReadSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider")),
                          QStringList{QStringLiteral("ravlek")} + arguments, programDir);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);

    const QString expectedPath = installation.env.path(expected);
    QCOMPARE(QFileInfo(Environment().DataProviderFile).absoluteFilePath(), expectedPath);
    QCOMPARE(window.lblDataProvider->text(), QFileInfo(expectedPath).fileName());
    QCOMPARE(Environment().ConnectionString, *ReadDataLinkFile(expectedPath));
}

QTEST_MAIN(TestSettingsConnect)
#include "tst_settingsconnect.moc"
