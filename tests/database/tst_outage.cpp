// The database layer when its PostgreSQL server goes away under it and comes back: a server
// of this test's own, stopped and started while a workstation's connection is open.

#include "database/DataLinkFile.h"
#include "database/KelvoDatabase.h"
#include "database/XrayDatabase.h"
#include "support/OwnPostgresServer.h"
#include "support/ScriptedDialogs.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString kStation = QStringLiteral("Digora");
const QString kLabel = QStringLiteral("Plate 1");
const QString kComputer = QStringLiteral("WS1");
const QString kLookupLeadIn =
    QStringLiteral("An error occurred while getting Deviceinformation from database!\r\r");

// A device that opens whenever asked; counts how often it was.
struct CountingDevice {
    int opens = 0;
    std::function<int(const TDeviceInformation&)> open() {
        return [this](const TDeviceInformation&) {
            ++opens;
            return 1;
        };
    }
};

} // namespace

class tst_Outage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void lostConnectionIsNotReconnectedByAStatement();
    void outageIsShownOnceAndNothingIsOpened();
    void reconnectReadsTheDataLinkAnew();
    void reconnectKeepsItsPace();

private:
    QString dataLinkFile() const { return m_dir.filePath(QStringLiteral("Practice.udl")); }
    // A workstation's database layer, connected the way the program connects at start.
    std::unique_ptr<TXrayDatabase> connectedWorkstation();
    void stopServer() { QCOMPARE(m_server->stop(), QString()); }
    void startServer() { QCOMPARE(m_server->start(), QString()); }

    QTemporaryDir m_dir;
    std::unique_ptr<pgtest::OwnPostgresServer> m_server;
    TDataLinkState m_dataLink;
    int m_testNumber = 0;
};

void tst_Outage::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_server = std::make_unique<pgtest::OwnPostgresServer>();
    QVERIFY2(m_server->error().isEmpty(), qPrintable(m_server->error()));
}

void tst_Outage::init() {
    const QString database = QStringLiteral("practice%1").arg(++m_testNumber);
    QCOMPARE(m_server->createDatabase(database), QString());
    QVERIFY(WriteDataLinkFile(dataLinkFile(), m_server->connectionString(database)));
    m_dataLink = TDataLinkState{m_dir.path() + QLatin1Char('/'), dataLinkFile(), QString()};
}

void tst_Outage::cleanup() {
    // A test that failed half-way must not leave the next one without its server.
    m_server->start();
}

std::unique_ptr<TXrayDatabase> tst_Outage::connectedWorkstation() {
    auto database = std::make_unique<TXrayDatabase>(m_dataLink);
    if (!database->BuildConnectionString())
        return nullptr;
    database->Connect();
    database->Database1->Execute(
        QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (:computer, :station, :label, 'Room 1', NULL)"),
        {{QStringLiteral("computer"), kComputer},
         {QStringLiteral("station"), kStation},
         {QStringLiteral("label"), kLabel}});
    database->Database1->CommitAndBeginTrans();
    return database;
}

// A statement finds the server gone: the connection is closed and says it was lost, and no
// later statement connects it again by itself, not even with the server back.
void tst_Outage::lostConnectionIsNotReconnectedByAStatement() {
    const std::unique_ptr<TXrayDatabase> database = connectedWorkstation();
    QVERIFY(database);
    TADOConnection& connection = *database->Database1;
    stopServer();
    startServer();

    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             connection.Execute(QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST")));
    QVERIFY(connection.Lost());
    QVERIFY(!connection.Connected());
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, database->QXRAYWORKSTATIONS->Open());
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, database->Locks().RegisteredDevices(kComputer, kStation));
    QVERIFY(!connection.Connected());

    // A deliberate reconnect brings it back.
    QVERIFY(database->KeepConnected(true));
    QVERIFY(!connection.Lost());
    QCOMPARE(database->Locks().RegisteredDevices(kComputer, kStation).size(), 1);
}

// The look-ups that the timers repeat while the server is away show the outage once, a claim
// opens nothing, and once the server is back the same workstation claims the device; a
// second outage is shown again.
void tst_Outage::outageIsShownOnceAndNothingIsOpened() {
    const std::unique_ptr<TXrayDatabase> database = connectedWorkstation();
    QVERIFY(database);
    TDeviceLocks& locks = database->Locks();
    CountingDevice device;
    ScriptedDialogs dialogs;
    dialogs.expect(kLookupLeadIn);

    stopServer();
    for (int tick = 0; tick < 3; ++tick) {
        QVERIFY(locks.GetDeviceInformation(kComputer, kStation, kLabel).Failed);
        const TDeviceLocks::TClaim claim = locks.ClaimDevice(kComputer, kStation, kLabel, device.open());
        QVERIFY(claim.NotConnected);
        QVERIFY(!database->KeepConnected());
        locks.RemoveOwnLocks(kComputer);
    }
    QCOMPARE(device.opens, 0);
    QVERIFY(dialogs.allAnswered());
    QCOMPARE(dialogs.shown().size(), 1);
    QVERIFY2(dialogs.shown().first().text.contains(QStringLiteral("terminating connection")),
             qPrintable(dialogs.shown().first().text));

    startServer();
    QVERIFY(database->KeepConnected(true));
    const TDeviceLocks::TClaim claim = locks.ClaimDevice(kComputer, kStation, kLabel, device.open());
    QVERIFY(!claim.NotConnected);
    QCOMPARE(claim.OpenResult, 1);
    QCOMPARE(device.opens, 1);
    QCOMPARE(locks.GetDeviceInformation(kComputer, kStation, kLabel).FirstHolder, QStringLiteral("Room 1"));

    // The connection recovered in between, so the next outage is shown again.
    dialogs.expect(kLookupLeadIn);
    stopServer();
    QVERIFY(locks.GetDeviceInformation(kComputer, kStation, kLabel).Failed);
    QVERIFY(locks.GetDeviceInformation(kComputer, kStation, kLabel).Failed);
    QCOMPARE(dialogs.shown().size(), 2);
}

// The reconnect uses the data-link file as it is now, not the connection string of the start.
void tst_Outage::reconnectReadsTheDataLinkAnew() {
    const std::unique_ptr<TXrayDatabase> database = connectedWorkstation();
    QVERIFY(database);
    const QString moved = QStringLiteral("moved%1").arg(m_testNumber);
    QCOMPARE(m_server->createDatabase(moved), QString());
    ScriptedDialogs dialogs;
    dialogs.expect(kLookupLeadIn);
    stopServer();
    QVERIFY(database->Locks().GetDeviceInformation(kComputer, kStation, kLabel).Failed);

    // Meanwhile the practice's administrator points the data link at another database.
    QVERIFY(WriteDataLinkFile(dataLinkFile(), m_server->connectionString(moved)));
    startServer();
    QVERIFY(database->KeepConnected(true));
    QVERIFY2(database->Database1->ConnectionString().contains(QStringLiteral("Initial Catalog=") + moved),
             qPrintable(database->Database1->ConnectionString()));
    // The other database has its tables made by the connect, and no register rows yet.
    QCOMPARE(database->Locks().RegisteredDevices(kComputer, kStation).size(), 0);
}

// Reconnects wait for their pause after a failed attempt; a deliberate one does not.
void tst_Outage::reconnectKeepsItsPace() {
    const std::unique_ptr<TXrayDatabase> database = connectedWorkstation();
    QVERIFY(database);
    ScriptedDialogs dialogs;
    dialogs.expect(kLookupLeadIn);
    stopServer();
    QVERIFY(database->Locks().GetDeviceInformation(kComputer, kStation, kLabel).Failed);
    QVERIFY(!database->KeepConnected());
    startServer();
    // Right after the failed attempt no other is made, though it would succeed now.
    QVERIFY(!database->KeepConnected());
    QVERIFY(!database->Database1->Connected());
    QVERIFY(database->KeepConnected(true));
    QVERIFY(database->KeepConnected());
    // A connection that the user closed is left to the user.
    database->Database1->Close();
    QVERIFY(!database->KeepConnected(true));
}

QTEST_MAIN(tst_Outage)
#include "tst_outage.moc"
