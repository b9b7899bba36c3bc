// The workstation lock protocol of the database layer, one body run against SQLite and
// PostgreSQL, with the program's own queries.

#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "database/XrayDatabase.h"
#include "platform/DialogService.h"
#include "support/PostgresTestDatabase.h"
#include "support/ScriptedDialogs.h"

#include <QCoreApplication>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <atomic>
#include <barrier>
#include <thread>

using pgtest::pgConfigured;
using pgtest::pgConnectionString;

namespace {

const QString kSqlite = QStringLiteral("sqlite");
const QString kPostgres = QStringLiteral("postgresql");
const QString kLookupLeadIn =
    QStringLiteral("An error occurred while getting Deviceinformation from database!\r\r");
const QString kResetLeadIn =
    QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r");

// The names of one device and of three workstations A, B and C registered for it.
struct Names {
    QString station;
    QString label;
    QStringList computers;  // A, B, C
    QStringList stationIds; // their workstation names
};

Names namesOf(const QString& kind) {
    if (kind == QStringLiteral("quotes")) {
        return {QStringLiteral("Digora 'OPTIME'"),
                QStringLiteral("O'PT-1"),
                {QStringLiteral("O'BRIEN"), QStringLiteral("D'ARCY"), QStringLiteral("L'OR")},
                {QStringLiteral("Dr O'Neil's room"), QStringLiteral("Room 'B'"), QStringLiteral("C's")}};
    }
    return {QStringLiteral("Digora OPTIME"),
            QStringLiteral("OPTIME-1"),
            {QStringLiteral("PC-A"), QStringLiteral("PC-B"), QStringLiteral("PC-C")},
            {QStringLiteral("Room A"), QStringLiteral("Room B"), QStringLiteral("Room C")}};
}

// One workstation: the program's database layer with its connection open and the
// transaction open that the program always keeps. (Not connected through Connect(), which
// would create the tables some tests have taken away.)
struct Workstation {
    explicit Workstation(const QString& connectionString) {
        Database1.SetConnectionString(connectionString);
        Database1.Open();
        Database1.BeginTrans();
    }

    TDataLinkState dataLink;
    TXrayDatabase database{dataLink};
    TADOConnection& Database1 = *database.Database1;
    TADOQuery& QXRAYDEV = *database.QXRAYDEV;
    TADOQuery& QCONNECTEDDEV = *database.QCONNECTEDDEV;
    TADOQuery& QXRAYDEVICES = *database.QXRAYDEVICES;
    TDeviceLocks& locks = database.Locks();
};

// The lock rows of a device as "<computer> <LOCKNUMBER>", in queue order.
QStringList lockRows(TADOConnection& connection, const QString& station, const QString& label) {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SetSQL({QStringLiteral("SELECT COMPUTERNAME, LOCKNUMBER FROM XRAYDEVICELOCKLIST"),
                  QStringLiteral("WHERE XRAYSTATION = :station AND XRAYSTATIONID = :label"),
                  QStringLiteral("ORDER BY LOCKNUMBER, COMPUTERNAME")});
    query.Parameters().ParamByName(QStringLiteral("station")).Value = station;
    query.Parameters().ParamByName(QStringLiteral("label")).Value = label;
    query.Open();
    QStringList rows;
    for (query.First(); !query.Eof(); query.Next())
        rows.append(query.Fields(0).AsString() + QLatin1Char(' ') + query.Fields(1).AsString());
    return rows;
}

void registerStation(TADOConnection& connection, const QString& computer, const QString& station,
                     const QString& label, const QString& stationId, const QString& ip = {}) {
    connection.Execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS "
                                      "(COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, STATIONID, IPADRESS) "
                                      "VALUES (:computer, :station, :label, :stationid, :ip)"),
                       {{QStringLiteral("computer"), computer},
                        {QStringLiteral("station"), station},
                        {QStringLiteral("label"), label},
                        {QStringLiteral("stationid"), stationId},
                        {QStringLiteral("ip"), ip.isEmpty() ? QVariant() : QVariant(ip)}});
}

void addLockRow(TADOConnection& connection, const QString& computer, const QString& station,
                const QString& label, int number) {
    connection.Execute(QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST "
                                      "(COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, LOCKNUMBER) "
                                      "VALUES (:computer, :station, :label, :number)"),
                       {{QStringLiteral("computer"), computer},
                        {QStringLiteral("station"), station},
                        {QStringLiteral("label"), label},
                        {QStringLiteral("number"), number}});
}

// A device that opens whenever asked; counts how often it was.
struct CountingDevice {
    int opens = 0;
    int result = 1;
    std::function<int(const TDeviceInformation&)> open() {
        return [this](const TDeviceInformation&) {
            ++opens;
            return result;
        };
    }
};

// Records messages from any thread, for the workstations that run in threads of their own.
class RecordingDialogs : public platform::DialogService {
public:
    RecordingDialogs()
        : m_scope(*this) {}
    platform::DialogButton show(const platform::DialogRequest& request) override {
        const QMutexLocker lock(&m_mutex);
        m_texts.append(request.text);
        return platform::DialogButton::Ok;
    }
    QStringList texts() {
        const QMutexLocker lock(&m_mutex);
        return m_texts;
    }

private:
    QMutex m_mutex;
    QStringList m_texts;
    platform::ScopedPort<platform::DialogService> m_scope;
};

} // namespace

class tst_DeviceLocks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void registeredDevicesOfOneStation_data() { namedRows(); }
    void registeredDevicesOfOneStation();
    void freeDeviceGetsOneHolderRow_data() { namedRows(); }
    void freeDeviceGetsOneHolderRow();
    void heldDeviceQueuesOnce_data() { namedRows(); }
    void heldDeviceQueuesOnce();
    void waiterTakesReleasedDevice_data() { namedRows(); }
    void waiterTakesReleasedDevice();
    void firstWaiterHoldsForEveryone_data() { namedRows(); }
    void firstWaiterHoldsForEveryone();
    void unregisteredLockRowsArePassedOver_data() { namedRows(); }
    void unregisteredLockRowsArePassedOver();
    void removeOwnLocksLeavesEveryDevice_data() { namedRows(); }
    void removeOwnLocksLeavesEveryDevice();
    void lockOperationsWithoutAtomicClaim_data() { namedRows(); }
    void lockOperationsWithoutAtomicClaim();
    void lookUpEndsWithRollback_data() { engineRows(); }
    void lookUpEndsWithRollback();
    void claimCommitsPendingWorkFirst_data() { engineRows(); }
    void claimCommitsPendingWorkFirst();
    void claimWithoutOpenLeavesNoTrace_data();
    void claimWithoutOpenLeavesNoTrace();
    void concurrentClaimsNeverBothHold_data() { engineRows(); }
    void concurrentClaimsNeverBothHold();
    void failureIsShownAndTransactionStaysOpen_data();
    void failureIsShownAndTransactionStaysOpen();
    void refusedWriteReleasesSqliteWriteLock_data();
    void refusedWriteReleasesSqliteWriteLock();

    void claimKeyIsFixedForEveryBuild();

private:
    static void engineRows();
    static void namedRows();
    static QString currentEngine() {
        return QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char('/'), 0, 0);
    }
    static Names currentNames() {
        return namesOf(QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char('/'), 1, 1));
    }
    QString connectionString() const;
    std::unique_ptr<Workstation> workstation() const {
        return std::make_unique<Workstation>(connectionString());
    }
    // A connection without an open transaction: it sets up the tables and sees only what
    // the workstations have committed.
    TADOConnection& office() { return *m_office; }
    void registerAll(const Names& names, int count = 3);

    QTemporaryDir m_dir;
    QString m_pgDatabase;
    int m_testNumber = 0;
    std::unique_ptr<TADOConnection> m_office;
};

void tst_DeviceLocks::engineRows() {
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << kSqlite;
    QTest::newRow("postgresql") << kPostgres;
}

void tst_DeviceLocks::namedRows() {
    QTest::addColumn<QString>("engine");
    for (const QString& engine : {kSqlite, kPostgres}) {
        for (const char* names : {"plain", "quotes"})
            QTest::addRow("%s/%s", qPrintable(engine), names) << engine;
    }
}

void tst_DeviceLocks::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (!pgConfigured())
        return;
    m_pgDatabase = QStringLiteral("ravlek_tst_devicelocks_%1").arg(QCoreApplication::applicationPid());
    pgtest::createScratchDatabase(m_pgDatabase);
}

void tst_DeviceLocks::cleanupTestCase() {
    if (m_pgDatabase.isEmpty())
        return;
    pgtest::dropScratchDatabase(m_pgDatabase);
}

void tst_DeviceLocks::init() {
    ++m_testNumber;
    if (QTest::currentDataTag() == nullptr)
        return;
    if (currentEngine() == kPostgres && !pgtest::requirePostgres())
        return;
    m_office = std::make_unique<TADOConnection>();
    m_office->SetConnectionString(connectionString());
    m_office->Open();
    if (currentEngine() == kPostgres) {
        m_office->Execute(QStringLiteral("SET client_min_messages TO WARNING"));
        m_office->Execute(QStringLiteral("DROP SCHEMA public CASCADE"));
        m_office->Execute(QStringLiteral("CREATE SCHEMA public"));
    }
    // The program's own statements create the tables.
    TADOQuery create;
    create.SetConnection(m_office.get());
    create.SetSQL(CreateXrayWorkstationsSql(m_office->Engine()));
    create.ExecSQL();
    create.SetSQL(CreateXrayDeviceLockListSql(m_office->Engine()));
    create.ExecSQL();
}

void tst_DeviceLocks::cleanup() {
    m_office.reset();
}

QString tst_DeviceLocks::connectionString() const {
    if (currentEngine() == kPostgres)
        return pgConnectionString(m_pgDatabase);
    return QStringLiteral("Provider=SQLite;Data Source=%1/test%2/ravlek.sqlite")
        .arg(m_dir.path())
        .arg(m_testNumber);
}

void tst_DeviceLocks::registerAll(const Names& names, int count) {
    for (int i = 0; i < count; ++i) {
        registerStation(office(), names.computers.at(i), names.station, names.label, names.stationIds.at(i),
                        QStringLiteral("10.0.0.%1").arg(i + 1));
    }
}

// ------------------------------------------------------------------------------------------

void tst_DeviceLocks::registeredDevicesOfOneStation() {
    const Names names = currentNames();
    const QString a = names.computers.at(0);
    registerStation(office(), a, names.station, names.label, names.stationIds.at(0),
                    QStringLiteral("10.1.1.1"));
    registerStation(office(), a, names.station, QStringLiteral("SECOND"), names.stationIds.at(0));
    registerStation(office(), a, QStringLiteral("Cranex D"), QStringLiteral("OTHER"), names.stationIds.at(0));
    registerStation(office(), names.computers.at(1), names.station, QStringLiteral("THEIRS"),
                    names.stationIds.at(1));

    auto ws = workstation();
    QList<TRegisterRow> rows = ws->locks.RegisteredDevices(a, names.station);
    std::sort(rows.begin(), rows.end(),
              [](const TRegisterRow& x, const TRegisterRow& y) { return x.XrayStationId < y.XrayStationId; });
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).XrayStationId, names.label);
    QCOMPARE(rows.at(0).ComputerName, a);
    QCOMPARE(rows.at(0).XrayStation, names.station);
    QCOMPARE(rows.at(0).StationId, names.stationIds.at(0));
    QCOMPARE(rows.at(0).IpAddress, QStringLiteral("10.1.1.1"));
    QCOMPARE(rows.at(1).XrayStationId, QStringLiteral("SECOND"));
    QVERIFY(rows.at(1).IpAddress.isEmpty());
    QVERIFY(!ws->QXRAYDEVICES.Active());
}

void tst_DeviceLocks::freeDeviceGetsOneHolderRow() {
    const Names names = currentNames();
    registerAll(names, 1);
    auto a = workstation();
    CountingDevice device;

    const TDeviceLocks::TClaim claim =
        a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, device.open());

    QCOMPARE(claim.OpenResult, 1);
    QVERIFY(!claim.HeldByAnother);
    QCOMPARE(device.opens, 1);
    QCOMPARE(claim.Information.OwnStation, names.stationIds.at(0));
    QCOMPARE(claim.Information.IpAddress, QStringLiteral("10.0.0.1"));
    QVERIFY(claim.Information.FirstHolder.isEmpty());
    QCOMPARE(lockRows(office(), names.station, names.label),
             QStringList{names.computers.at(0) + QStringLiteral(" 0")});
    QVERIFY(a->Database1.InTransaction());
}

void tst_DeviceLocks::heldDeviceQueuesOnce() {
    const Names names = currentNames();
    registerAll(names, 2);
    auto a = workstation();
    auto b = workstation();
    const QString& nameA = names.computers.at(0);
    const QString& nameB = names.computers.at(1);
    CountingDevice deviceA;
    CountingDevice deviceB;
    QCOMPARE(a->locks.ClaimDevice(nameA, names.station, names.label, deviceA.open()).OpenResult, 1);

    const QStringList queued{nameA + QStringLiteral(" 0"), nameB + QStringLiteral(" 1")};
    TDeviceLocks::TClaim refused = b->locks.ClaimDevice(nameB, names.station, names.label, deviceB.open());
    QVERIFY(refused.HeldByAnother);
    QCOMPARE(refused.OpenResult, 0);
    QCOMPARE(deviceB.opens, 0);
    QCOMPARE(refused.Information.FirstHolder, names.stationIds.at(0));
    QCOMPARE(refused.Information.Holders, names.stationIds.at(0) + QStringLiteral(", "));
    QCOMPARE(lockRows(office(), names.station, names.label), queued);

    // A retry keeps the place and adds no second row.
    refused = b->locks.ClaimDevice(nameB, names.station, names.label, deviceB.open());
    QVERIFY(refused.HeldByAnother);
    QCOMPARE(lockRows(office(), names.station, names.label), queued);

    // A user's click gives the place up first and queues anew.
    b->locks.RemoveOwnLocks(nameB);
    QCOMPARE(lockRows(office(), names.station, names.label), QStringList{nameA + QStringLiteral(" 0")});
    QVERIFY(b->locks.ClaimDevice(nameB, names.station, names.label, deviceB.open()).HeldByAnother);
    QCOMPARE(lockRows(office(), names.station, names.label), queued);
    QCOMPARE(deviceB.opens, 0);
}

void tst_DeviceLocks::waiterTakesReleasedDevice() {
    const Names names = currentNames();
    registerAll(names, 2);
    auto a = workstation();
    auto b = workstation();
    CountingDevice device;
    a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, device.open());
    QVERIFY(
        b->locks.ClaimDevice(names.computers.at(1), names.station, names.label, device.open()).HeldByAnother);

    a->locks.RemoveOwnLocks(names.computers.at(0));
    const TDeviceLocks::TClaim claim =
        b->locks.ClaimDevice(names.computers.at(1), names.station, names.label, device.open());

    QVERIFY(!claim.HeldByAnother);
    QCOMPARE(claim.OpenResult, 1);
    QCOMPARE(claim.Information.FirstHolder, names.stationIds.at(1));
    QCOMPARE(device.opens, 2);
    QCOMPARE(lockRows(office(), names.station, names.label),
             QStringList{names.computers.at(1) + QStringLiteral(" 0")});
}

void tst_DeviceLocks::firstWaiterHoldsForEveryone() {
    const Names names = currentNames();
    registerAll(names);
    std::array<std::unique_ptr<Workstation>, 3> ws{workstation(), workstation(), workstation()};
    CountingDevice device;
    for (int i = 0; i < 3; ++i)
        ws.at(i)->locks.ClaimDevice(names.computers.at(i), names.station, names.label, device.open());
    QCOMPARE(device.opens, 1);
    ws.at(0)->locks.RemoveOwnLocks(names.computers.at(0));

    const QString bothWaiting =
        names.stationIds.at(1) + QStringLiteral(", ") + names.stationIds.at(2) + QStringLiteral(", ");
    for (int i = 0; i < 3; ++i) {
        const TDeviceInformation information =
            ws.at(i)->locks.GetDeviceInformation(names.computers.at(i), names.station, names.label);
        QCOMPARE(information.FirstHolder, names.stationIds.at(1));
        QCOMPARE(information.Holders, bothWaiting);
        QCOMPARE(information.HeldByAnother(), i != 1);
    }

    // C stays refused until B's row is gone; B takes the device.
    QVERIFY(ws.at(2)
                ->locks.ClaimDevice(names.computers.at(2), names.station, names.label, device.open())
                .HeldByAnother);
    QCOMPARE(lockRows(office(), names.station, names.label),
             (QStringList{names.computers.at(1) + QStringLiteral(" 1"),
                          names.computers.at(2) + QStringLiteral(" 2")}));
    QCOMPARE(ws.at(1)
                 ->locks.ClaimDevice(names.computers.at(1), names.station, names.label, device.open())
                 .OpenResult,
             1);
    QVERIFY(ws.at(2)
                ->locks.ClaimDevice(names.computers.at(2), names.station, names.label, device.open())
                .HeldByAnother);
    QCOMPARE(lockRows(office(), names.station, names.label),
             (QStringList{names.computers.at(1) + QStringLiteral(" 0"),
                          names.computers.at(2) + QStringLiteral(" 2")}));
    QCOMPARE(device.opens, 2);
}

void tst_DeviceLocks::unregisteredLockRowsArePassedOver() {
    const Names names = currentNames();
    registerAll(names, 1);
    const QString ghost = names.computers.at(2) + QStringLiteral("-GONE");
    addLockRow(office(), ghost, names.station, names.label, 0);
    addLockRow(office(), names.computers.at(1), names.station, names.label, 1);
    auto a = workstation();

    const TDeviceInformation information =
        a->locks.GetDeviceInformation(names.computers.at(0), names.station, names.label);
    QCOMPARE(information.OwnStation, names.stationIds.at(0));
    QVERIFY(information.FirstHolder.isEmpty());
    QVERIFY(information.Holders.isEmpty());
    QVERIFY(!information.HeldByAnother());

    // Taking the device rewrites the first row, whoever it belonged to.
    CountingDevice device;
    QCOMPARE(
        a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, device.open()).OpenResult, 1);
    QCOMPARE(lockRows(office(), names.station, names.label),
             (QStringList{names.computers.at(0) + QStringLiteral(" 0"),
                          names.computers.at(1) + QStringLiteral(" 1")}));
}

void tst_DeviceLocks::removeOwnLocksLeavesEveryDevice() {
    const Names names = currentNames();
    const QString second = names.label + QStringLiteral("-2");
    for (int i = 0; i < 2; ++i) {
        registerStation(office(), names.computers.at(i), names.station, names.label, names.stationIds.at(i));
        registerStation(office(), names.computers.at(i), names.station, second, names.stationIds.at(i));
    }
    auto a = workstation();
    auto b = workstation();
    CountingDevice device;
    a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, device.open());
    b->locks.ClaimDevice(names.computers.at(1), names.station, second, device.open());
    a->locks.ClaimDevice(names.computers.at(0), names.station, second, device.open());
    QCOMPARE(lockRows(office(), names.station, second).size(), 2);

    a->locks.RemoveOwnLocks(names.computers.at(0));

    QVERIFY(lockRows(office(), names.station, names.label).isEmpty());
    QCOMPARE(lockRows(office(), names.station, second),
             QStringList{names.computers.at(1) + QStringLiteral(" 0")});
    QVERIFY(a->Database1.InTransaction());
}

// The lock operations on their own, as the list and the retry use them.
void tst_DeviceLocks::lockOperationsWithoutAtomicClaim() {
    const Names names = currentNames();
    registerAll(names, 2);
    auto a = workstation();
    const QString& nameA = names.computers.at(0);
    const QString& nameB = names.computers.at(1);
    addLockRow(office(), nameB, names.station, names.label, 0);

    a->locks.QueueDeviceLock(names.station, names.label, nameA);
    a->locks.QueueDeviceLock(names.station, names.label, nameA);
    QCOMPARE(lockRows(office(), names.station, names.label),
             (QStringList{nameB + QStringLiteral(" 0"), nameA + QStringLiteral(" 1")}));
    // Another letter case is another computer.
    a->locks.QueueDeviceLock(names.station, names.label, nameA.toLower());
    QCOMPARE(lockRows(office(), names.station, names.label).size(), 2);

    a->locks.TakeDeviceLock(names.station, names.label, nameA);
    QCOMPARE(lockRows(office(), names.station, names.label),
             (QStringList{nameA + QStringLiteral(" 0"), nameA + QStringLiteral(" 1")}));
    QVERIFY(a->Database1.InTransaction());
}

void tst_DeviceLocks::lookUpEndsWithRollback() {
    const Names names = namesOf(QStringLiteral("plain"));
    registerAll(names, 2);
    auto a = workstation();
    // Work left uncommitted on the connection is undone by the look-up's rollback.
    addLockRow(a->Database1, names.computers.at(1), names.station, names.label, 0);
    const TDeviceInformation information =
        a->locks.GetDeviceInformation(names.computers.at(0), names.station, names.label);
    QCOMPARE(information.FirstHolder, names.stationIds.at(1));
    QVERIFY(information.HeldByAnother());
    QVERIFY(a->Database1.InTransaction());
    QVERIFY(lockRows(a->Database1, names.station, names.label).isEmpty());
    QVERIFY(!a->QXRAYDEV.Active());
    QVERIFY(!a->QCONNECTEDDEV.Active());

    // Without a register row of this computer nothing is found and IpAddress keeps its value.
    const TDeviceInformation unknown = a->locks.GetDeviceInformation(
        QStringLiteral("ELSEWHERE"), names.station, names.label, QStringLiteral("1.2.3.4"));
    QVERIFY(unknown.OwnStation.isEmpty());
    QCOMPARE(unknown.IpAddress, QStringLiteral("1.2.3.4"));
    QVERIFY(unknown.FirstHolder.isEmpty());
}

void tst_DeviceLocks::claimCommitsPendingWorkFirst() {
    const Names names = namesOf(QStringLiteral("plain"));
    registerAll(names, 2);
    auto a = workstation();
    auto b = workstation();
    CountingDevice device;
    a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, device.open());
    // The settings window's "unlock" runs its deletion in B's open transaction, and tells
    // the user that the device is unlocked; B's claim must not undo it.
    b->Database1.Execute(
        QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST WHERE XRAYSTATION = :s AND XRAYSTATIONID = :i"),
        {{QStringLiteral("s"), names.station}, {QStringLiteral("i"), names.label}});

    const TDeviceLocks::TClaim claim =
        b->locks.ClaimDevice(names.computers.at(1), names.station, names.label, device.open());
    QCOMPARE(claim.OpenResult, 1);
    QCOMPARE(lockRows(office(), names.station, names.label),
             QStringList{names.computers.at(1) + QStringLiteral(" 0")});
}

void tst_DeviceLocks::claimWithoutOpenLeavesNoTrace_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<bool>("throws");
    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::addRow("%s/open fails", qPrintable(engine)) << engine << false;
        QTest::addRow("%s/open throws", qPrintable(engine)) << engine << true;
    }
}

void tst_DeviceLocks::claimWithoutOpenLeavesNoTrace() {
    QFETCH(bool, throws);
    const Names names = namesOf(QStringLiteral("plain"));
    registerAll(names, 2);
    auto a = workstation();
    auto b = workstation();
    const auto refusingDevice = [throws](const TDeviceInformation&) -> int {
        if (throws)
            throw std::runtime_error("driver gone");
        return 4;
    };

    if (throws) {
        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, refusingDevice));
    } else {
        QCOMPARE(a->locks.ClaimDevice(names.computers.at(0), names.station, names.label, refusingDevice)
                     .OpenResult,
                 4);
    }
    QVERIFY(a->Database1.InTransaction());
    QVERIFY(lockRows(office(), names.station, names.label).isEmpty());

    // The claim let go of the device: another workstation's claim goes through at once (on
    // SQLite it would otherwise wait for the write lock and fail with a message).
    ScriptedDialogs noMessages;
    CountingDevice device;
    QCOMPARE(
        b->locks.ClaimDevice(names.computers.at(1), names.station, names.label, device.open()).OpenResult, 1);
    QCOMPARE(lockRows(office(), names.station, names.label),
             QStringList{names.computers.at(1) + QStringLiteral(" 0")});
}

// Two workstations click the same free device at the same moment, many times over: the
// claim lets exactly one of them open it and hold it; the other is refused and queues.
void tst_DeviceLocks::concurrentClaimsNeverBothHold() {
    constexpr int kRounds = 200;
    const Names names = namesOf(QStringLiteral("plain"));
    registerAll(names, 2);
    const QString connection = connectionString();
    RecordingDialogs messages;

    struct Round {
        std::array<TDeviceLocks::TClaim, 2> claims;
        QStringList rows; // committed lock rows once both claims are over
    };
    std::vector<Round> rounds(kRounds);
    std::barrier sync(2);
    std::atomic<int> deviceUser{0};
    std::atomic<int> overlaps{0};
    std::array<QString, 2> errors;

    const auto workstationRun = [&](int who) {
        try {
            Workstation ws(connection);
            const QString& computer = names.computers.at(who);
            const auto open = [&](const TDeviceInformation&) {
                int nobody = 0;
                if (!deviceUser.compare_exchange_strong(nobody, who + 1))
                    ++overlaps;
                return 1;
            };
            for (Round& round : rounds) {
                sync.arrive_and_wait();
                round.claims.at(who) = ws.locks.ClaimDevice(computer, names.station, names.label, open);
                sync.arrive_and_wait();
                if (who == 0) {
                    round.rows = lockRows(ws.Database1, names.station, names.label);
                    deviceUser = 0;
                }
                sync.arrive_and_wait();
                ws.locks.RemoveOwnLocks(computer);
                sync.arrive_and_wait();
            }
        } catch (const std::exception& error) {
            errors.at(who) = QString::fromLocal8Bit(error.what());
            sync.arrive_and_drop();
        }
    };
    std::thread second(workstationRun, 1);
    workstationRun(0);
    second.join();

    QVERIFY2(errors.at(0).isEmpty() && errors.at(1).isEmpty(), qPrintable(errors.at(0) + errors.at(1)));
    QCOMPARE(messages.texts(), QStringList());
    QCOMPARE(overlaps.load(), 0);
    for (int r = 0; r < kRounds; ++r) {
        const Round& round = rounds.at(r);
        const int winner = round.claims.at(0).OpenResult == 1 ? 0 : 1;
        const int loser = 1 - winner;
        QVERIFY2(round.claims.at(winner).OpenResult == 1 && !round.claims.at(winner).HeldByAnother,
                 qPrintable(QStringLiteral("round %1: nobody holds the device").arg(r)));
        QVERIFY2(round.claims.at(loser).HeldByAnother && round.claims.at(loser).OpenResult == 0,
                 qPrintable(QStringLiteral("round %1: both opened the device").arg(r)));
        QCOMPARE(round.rows, (QStringList{names.computers.at(winner) + QStringLiteral(" 0"),
                                          names.computers.at(loser) + QStringLiteral(" 1")}));
    }
}

void tst_DeviceLocks::failureIsShownAndTransactionStaysOpen_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("droppedTable");
    QTest::addColumn<QStringList>("leadIns");
    const QString registerTable = QStringLiteral("XRAYWORKSTATIONS");
    const QString lockTable = QStringLiteral("XRAYDEVICELOCKLIST");
    for (const QString& engine : {kSqlite, kPostgres}) {
        const QByteArray e = engine.toUtf8();
        QTest::addRow("%s/look-up, register gone", e.constData())
            << engine << QStringLiteral("lookup") << registerTable << QStringList{kLookupLeadIn};
        QTest::addRow("%s/look-up, lock list gone", e.constData())
            << engine << QStringLiteral("lookup") << lockTable << QStringList{kLookupLeadIn};
        QTest::addRow("%s/queue", e.constData())
            << engine << QStringLiteral("queue") << lockTable << QStringList{kLookupLeadIn};
        QTest::addRow("%s/take", e.constData())
            << engine << QStringLiteral("take") << lockTable << QStringList{kLookupLeadIn};
        QTest::addRow("%s/remove", e.constData())
            << engine << QStringLiteral("remove") << lockTable << QStringList{kResetLeadIn};
        // The failed look-up counts the device free: it is opened, and taking the lock
        // fails once more, for the same reason, which is not shown a second time.
        QTest::addRow("%s/claim", e.constData())
            << engine << QStringLiteral("claim") << lockTable << QStringList{kLookupLeadIn};
    }
}

void tst_DeviceLocks::failureIsShownAndTransactionStaysOpen() {
    QFETCH(QString, operation);
    QFETCH(QString, droppedTable);
    QFETCH(QStringList, leadIns);
    const Names names = namesOf(QStringLiteral("plain"));
    const QString& computer = names.computers.at(0);
    registerAll(names, 2);
    office().Execute(QStringLiteral("DROP TABLE ") + droppedTable);
    auto a = workstation();
    auto b = workstation();

    ScriptedDialogs dialogs;
    for (const QString& leadIn : std::as_const(leadIns))
        dialogs.expect(leadIn);
    CountingDevice device;
    if (operation == QStringLiteral("lookup")) {
        const TDeviceInformation information =
            a->locks.GetDeviceInformation(computer, names.station, names.label);
        // What was found before the failure is kept.
        QCOMPARE(information.OwnStation,
                 droppedTable == QStringLiteral("XRAYDEVICELOCKLIST") ? names.stationIds.at(0) : QString());
    } else if (operation == QStringLiteral("queue")) {
        a->locks.QueueDeviceLock(names.station, names.label, computer);
    } else if (operation == QStringLiteral("take")) {
        a->locks.TakeDeviceLock(names.station, names.label, computer);
    } else if (operation == QStringLiteral("remove")) {
        a->locks.RemoveOwnLocks(computer);
    } else {
        QCOMPARE(a->locks.ClaimDevice(computer, names.station, names.label, device.open()).OpenResult, 1);
        QCOMPARE(device.opens, 1);
    }

    QVERIFY(dialogs.allAnswered());
    for (qsizetype i = 0; i < leadIns.size(); ++i) {
        const QString text = dialogs.shown().at(i).text;
        QVERIFY2(text.startsWith(leadIns.at(i)), qPrintable(text));
        // The engine's own words follow the lead-in.
        const QString engineText = text.mid(leadIns.at(i).size());
        QVERIFY2(engineText.contains(droppedTable, Qt::CaseInsensitive), qPrintable(engineText));
        QVERIFY2(engineText.contains(currentEngine() == kSqlite ? QStringLiteral("no such table")
                                                                : QStringLiteral("does not exist")),
                 qPrintable(engineText));
    }
    QVERIFY(a->Database1.InTransaction());
    if (operation == QStringLiteral("lookup") || operation == QStringLiteral("claim")) {
        // Nothing is left holding the database: another workstation writes at once.
        b->Database1.Execute(QStringLiteral("CREATE TABLE WRITEPROBE (X INT)"));
        b->Database1.CommitTrans();
    }
}

void tst_DeviceLocks::refusedWriteReleasesSqliteWriteLock_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("write");
    QTest::newRow("sqlite/duplicate register row") << kSqlite << QStringLiteral("duplicate");
    QTest::newRow("sqlite/delete of a row changed meanwhile") << kSqlite << QStringLiteral("delete");
    QTest::newRow("sqlite/refused lock write") << kSqlite << QStringLiteral("lock");
    QTest::newRow("sqlite/refused removal of own locks") << kSqlite << QStringLiteral("remove");
}

// On SQLite the first write of a transaction takes the write lock of the whole file. A write
// that the database refuses must give it back at once: another process on the same file
// writes without waiting, while the workstation's connection goes on with its transaction.
void tst_DeviceLocks::refusedWriteReleasesSqliteWriteLock() {
    QFETCH(QString, write);
    const Names names = namesOf(QStringLiteral("plain"));
    const QString& computer = names.computers.at(0);
    registerAll(names, 1);
    if (write == QStringLiteral("remove"))
        addLockRow(office(), computer, names.station, names.label, 0);
    // Lock writes this database refuses, as a rule of the practice's own would.
    office().Execute(QStringLiteral("CREATE TRIGGER REFUSELOCKS BEFORE INSERT ON XRAYDEVICELOCKLIST "
                                    "WHEN NEW.COMPUTERNAME = '%1' BEGIN SELECT RAISE(ABORT, 'lock refused'); "
                                    "END")
                         .arg(computer));
    office().Execute(
        QStringLiteral("CREATE TRIGGER REFUSEREMOVAL BEFORE DELETE ON XRAYDEVICELOCKLIST "
                       "WHEN OLD.COMPUTERNAME = '%1' BEGIN SELECT RAISE(ABORT, 'removal refused'); "
                       "END")
            .arg(computer));
    auto a = workstation();
    a->database.SearchRegister(QString());

    RecordingDialogs dialogs;
    if (write == QStringLiteral("duplicate")) {
        TADOQuery& rows = *a->database.QXRAYWORKSTATIONS;
        rows.Append();
        rows.FieldByName(QStringLiteral("COMPUTERNAME")).SetAsString(computer);
        rows.FieldByName(QStringLiteral("XRAYSTATION")).SetAsString(names.station);
        rows.FieldByName(QStringLiteral("XRAYSTATIONID")).SetAsString(names.label);
        rows.FieldByName(QStringLiteral("STATIONID")).SetAsString(QStringLiteral("Room twice"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, a->database.SaveRegisterRow());
        rows.Cancel();
    } else if (write == QStringLiteral("delete")) {
        office().Execute(QStringLiteral("UPDATE XRAYWORKSTATIONS SET STATIONID = 'Room moved'"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, a->database.DeleteRegisterRow());
    } else if (write == QStringLiteral("lock")) {
        a->locks.TakeDeviceLock(names.station, names.label, computer);
        QCOMPARE(dialogs.texts().size(), 1);
    } else {
        a->locks.RemoveOwnLocks(computer);
        QCOMPARE(dialogs.texts().size(), 1);
    }
    QVERIFY(a->Database1.InTransaction());

    // Another process writes to the file, waiting at most one second for the write lock.
    const QString file = ParseConnectionString(connectionString()).server;
    QProcess other;
    other.start(QStringLiteral("sqlite3"),
                {QStringLiteral("-cmd"), QStringLiteral(".timeout 1000"), file,
                 QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST VALUES ('PC-OTHER', 'X', 'Y', 0);")});
    QVERIFY2(other.waitForFinished(30000), "sqlite3 did not finish");
    const QString errors = QString::fromUtf8(other.readAllStandardError());
    QVERIFY2(other.exitStatus() == QProcess::NormalExit && other.exitCode() == 0, qPrintable(errors));

    QCOMPARE(lockRows(office(), QStringLiteral("X"), QStringLiteral("Y")),
             QStringList{QStringLiteral("PC-OTHER 0")});

    // The workstation's connection goes on: its next unit of work writes and commits.
    addLockRow(a->Database1, names.computers.at(1), names.station, names.label, 1);
    a->Database1.CommitAndBeginTrans();
    QVERIFY(lockRows(office(), names.station, names.label)
                .contains(names.computers.at(1) + QStringLiteral(" 1")));
}

void tst_DeviceLocks::claimKeyIsFixedForEveryBuild() {
    // Workstations of every build must serialise a device's claims under the same number.
    QCOMPARE(DeviceClaimKey(QStringLiteral("Digora OPTIME"), QStringLiteral("OPTIME-1")),
             Q_INT64_C(7192646294959969977));
    // SQL Server takes these names for the same device.
    QCOMPARE(DeviceClaimKey(QStringLiteral("cranex d  "), QStringLiteral("röntgen 2")),
             Q_INT64_C(-5539621266087901316));
    QVERIFY(DeviceClaimKey(QStringLiteral("Digora OPTIME"), QStringLiteral("OPTIME-2")) !=
            DeviceClaimKey(QStringLiteral("Digora OPTIME"), QStringLiteral("OPTIME-1")));
}

QTEST_MAIN(tst_DeviceLocks)
#include "tst_devicelocks.moc"
