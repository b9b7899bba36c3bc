// A database outage under two workstations: each a real ravlek process, one holding a network
// device and the other queued for it, on a PostgreSQL server of this test's own that is
// stopped and started again while they run. Both must come back by themselves; at no moment
// may two hold the device or the lock list name another holder than the one that has it
// open; each user is told of the outage once.

#include "E2eInstallation.h"
#include "database/DataLinkFile.h"
#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "support/OwnPostgresServer.h"

#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

const QString kDevice = QStringLiteral("192.0.2.1"); // the catalogue's Digora (type 1)
const QString kDatabase = QStringLiteral("practice");
constexpr int kStartTimeout = 30000;

// The device is open in process `pid`, which has armed it for a scan.
bool armedBy(const SimDeviceFolder& device, qint64 pid) {
    const std::optional<SimDeviceReport> report = device.report();
    return pid != 0 && device.openedBy() == pid && report && report->pid == pid && report->armed;
}

// One workstation: ravlek-host and its ravlek under a computer name and a bus of their own.
// The message boxes ravlek shows (answered by themselves) are collected from its errors.
class Workstation {
public:
    Workstation(const TestEnvironment& env, const QString& computer, const QString& patient)
        : m_computer(computer)
        , m_host(QStringLiteral("ravlek-host"),
                 {QStringLiteral("PNR=") + patient,
                  QStringLiteral("OUTDIR=") + env.path(QStringLiteral("xray/"))},
                 environment(env, computer)) {}

    QString computer() const { return m_computer; }
    qint64 ravlekPid() {
        if (m_ravlek == 0)
            m_ravlek = m_host.firstChild();
        return m_ravlek;
    }
    RunningProgram& host() { return m_host; }

    // The message boxes shown so far, one line each.
    QStringList boxes() {
        m_errors += QString::fromUtf8(m_host.process().readAllStandardError());
        return m_errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts)
            .filter(QRegularExpression(QStringLiteral("^\\[")));
    }
    // The end of the run, with the errors read so far put back in front of the rest.
    ProgramRun finish() {
        boxes();
        ProgramRun run = m_host.wait(kStartTimeout);
        run.errors = m_errors + run.errors;
        m_errors = run.errors;
        return run;
    }

private:
    static QProcessEnvironment environment(const TestEnvironment& env, const QString& computer) {
        QProcessEnvironment environment = programEnvironment();
        environment.insert(QStringLiteral("KELVO_COMPUTERNAME"), computer);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           env.makeFolder(QStringLiteral("runtime-") + computer));
        return environment;
    }

    QString m_computer;
    RunningProgram m_host;
    qint64 m_ravlek = 0;
    QString m_errors;
};

// The test's own view of the lock list, through a connection of its own that is made anew
// after the server came back.
class LockList {
public:
    explicit LockList(const QString& connectionString)
        : m_connectionString(connectionString) {}

    // The lock rows as "COMPUTERNAME LOCKNUMBER" in queue order; nothing when the server
    // cannot be reached.
    std::optional<QStringList> rows() {
        try {
            if (!m_connection || !m_connection->Connected()) {
                m_connection = std::make_unique<TADOConnection>();
                m_connection->SetConnectionString(m_connectionString);
                m_connection->Open();
            }
            TADOQuery query;
            query.SetConnection(m_connection.get());
            query.SetSQL({QStringLiteral("SELECT COMPUTERNAME, LOCKNUMBER FROM XRAYDEVICELOCKLIST "
                                         "ORDER BY LOCKNUMBER, COMPUTERNAME")});
            query.Open();
            QStringList found;
            for (query.First(); !query.Eof(); query.Next())
                found.append(query.Fields(0).AsString() + QLatin1Char(' ') + query.Fields(1).AsString());
            return found;
        } catch (const EDatabaseError&) {
            m_connection.reset();
            return std::nullopt;
        }
    }

    // Removes every lock row, as a database restored from a backup would have lost them.
    void removeAll() {
        if (rows())
            m_connection->Execute(QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST"));
    }

private:
    QString m_connectionString;
    std::unique_ptr<TADOConnection> m_connection;
};

} // namespace

class TestE2eOutage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverRestartUnderHolderAndWaiter();

private:
    // One look at the device and the lock list: never two holders, and the list never names
    // another holder than the workstation that has the device open.
    void look(LockList& locks, const SimDeviceFolder& device, Workstation& first, Workstation& second);
    // Looks for `ms` milliseconds, or until `done` holds.
    void watch(LockList& locks, const SimDeviceFolder& device, Workstation& first, Workstation& second,
               int ms, const std::function<bool()>& done = {});
};

void TestE2eOutage::look(LockList& locks, const SimDeviceFolder& device, Workstation& first,
                         Workstation& second) {
    const qint64 before = device.openedBy();
    const std::optional<QStringList> rows = locks.rows();
    const qint64 after = device.openedBy();
    QVERIFY2(after == 0 || after == first.ravlekPid() || after == second.ravlekPid(),
             qPrintable(QStringLiteral("device held by pid %1").arg(after)));
    if (!rows)
        return;
    QVERIFY2(rows->filter(QRegularExpression(QStringLiteral(" 0$"))).size() <= 1,
             qPrintable(rows->join(u", ")));
    if (before != after || after == 0 || rows->isEmpty())
        return;
    const QString opener = after == first.ravlekPid() ? first.computer() : second.computer();
    const QString named = rows->first().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(
        named == opener,
        qPrintable(
            QStringLiteral("%1 has the device open, the lock list says: %2").arg(opener, rows->join(u", "))));
}

void TestE2eOutage::watch(LockList& locks, const SimDeviceFolder& device, Workstation& first,
                          Workstation& second, int ms, const std::function<bool()>& done) {
    for (QDeadlineTimer wait(ms); !wait.hasExpired();) {
        look(locks, device, first, second);
        if (QTest::currentTestFailed() || (done && done()))
            return;
        QTest::qWait(200);
    }
}

void TestE2eOutage::serverRestartUnderHolderAndWaiter() {
    pgtest::OwnPostgresServer server;
    QVERIFY2(server.error().isEmpty(), qPrintable(server.error()));
    QCOMPARE(server.createDatabase(kDatabase), QString());
    const QString connectionString = server.connectionString(kDatabase);
    {
        TADOConnection office;
        office.SetConnectionString(connectionString);
        office.Open();
        for (const QStringList& create : {CreateXrayWorkstationsSql(DataLinkEngine::PostgreSQL),
                                          CreateXrayDeviceLockListSql(DataLinkEngine::PostgreSQL)})
            office.Execute(create.join(QLatin1Char('\n')));
        for (const auto& [computer, station] : {std::pair{QStringLiteral("WS1"), QStringLiteral("Room 1")},
                                                std::pair{QStringLiteral("WS2"), QStringLiteral("Room 2")}})
            office.Execute(
                QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (:computer, 'Digora', 'Plate 1', "
                               ":station, :ip)"),
                {{QStringLiteral("computer"), computer},
                 {QStringLiteral("station"), station},
                 {QStringLiteral("ip"), kDevice}});
    }

    TestEnvironment env;
    env.makeFolder(QStringLiteral("xray"));
    InitApplicationEnvironment({QStringLiteral("tst_e2e_outage")});
    QDir().mkpath(Environment().DataLinksPath);
    QVERIFY(
        WriteDataLinkFile(Environment().DataLinksPath + QStringLiteral("Practice.udl"), connectionString));
    QCOMPARE(setSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"),
                        QStringLiteral("Practice.udl")),
             QString());
    QCOMPARE(configureCaptureStation(QStringLiteral("¤1¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("stage"), kDevice, QStringLiteral("50")}), QString());
    const std::optional<SimDeviceFolder> device = simulatedDevice(kDevice);
    QVERIFY(device);
    LockList locks(connectionString);

    Workstation first(env, QStringLiteral("WS1"), QStringLiteral("101"));
    QTRY_VERIFY2_WITH_TIMEOUT(armedBy(*device, first.ravlekPid()),
                              "the first workstation did not open and arm the device", kStartTimeout);
    Workstation second(env, QStringLiteral("WS2"), QStringLiteral("102"));
    const QStringList queued{QStringLiteral("WS1 0"), QStringLiteral("WS2 1")};
    QTRY_VERIFY_WITH_TIMEOUT(locks.rows() == queued, kStartTimeout);
    QCOMPARE(first.boxes(), QStringList());
    QCOMPARE(second.boxes(), QStringList());

    // The server goes away for longer than a few of the waiter's retries and the holder's checks.
    QCOMPARE(server.stop(), QString());
    watch(locks, *device, first, second, 16000);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(armedBy(*device, first.ravlekPid()));
    QCOMPARE(server.start(), QString());

    // Back again: both go on by themselves, the holder keeps the device, the waiter its place.
    watch(locks, *device, first, second, 16000);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(armedBy(*device, first.ravlekPid()));
    QCOMPARE(locks.rows(), std::optional<QStringList>(queued));

    // Had the server come back without the lock rows, the holder writes its row again and the
    // waiter queues anew: what the list says is true again.
    locks.removeAll();
    watch(locks, *device, first, second, kStartTimeout, [&] { return locks.rows() == queued; });
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(locks.rows(), std::optional<QStringList>(queued));
    QVERIFY(armedBy(*device, first.ravlekPid()));

    // An image at the holder closes it (one-shot); its close removes its lock row, and the
    // waiter takes the device at its next retry.
    QCOMPARE(simulator({QStringLiteral("expose"), kDevice, QStringLiteral("--wait")}), QString());
    const ProgramRun firstRun = first.finish();
    QVERIFY2(firstRun.finished && firstRun.exitCode == 0, qPrintable(firstRun.describe()));
    QCOMPARE(firstRun.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=101 lParam=0"),
                                              QStringLiteral("XRAY_TRANSFERRED wParam=101 lParam=0")}));
    watch(locks, *device, first, second, kStartTimeout, [&] { return armedBy(*device, second.ravlekPid()); });
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(armedBy(*device, second.ravlekPid()), qPrintable(second.boxes().join(u'\n')));
    QTRY_COMPARE_WITH_TIMEOUT(locks.rows(), std::optional<QStringList>(QStringList{QStringLiteral("WS2 0")}),
                              kStartTimeout);

    QCOMPARE(simulator({QStringLiteral("expose"), kDevice, QStringLiteral("--wait")}), QString());
    const ProgramRun secondRun = second.finish();
    QVERIFY2(secondRun.finished && secondRun.exitCode == 0, qPrintable(secondRun.describe()));
    QCOMPARE(locks.rows(), std::optional<QStringList>(QStringList{}));

    // One message per user for the whole outage, naming what went wrong.
    const QStringList firstBoxes = first.boxes();
    const QStringList secondBoxes = second.boxes();
    QVERIFY2(firstBoxes.size() == 1, qPrintable(firstBoxes.join(u'\n')));
    QVERIFY2(secondBoxes.size() == 1, qPrintable(secondBoxes.join(u'\n')));
    QVERIFY2(
        secondBoxes.first().contains(QStringLiteral("An error occurred while getting Deviceinformation")),
        qPrintable(secondBoxes.first()));
}

QTEST_GUILESS_MAIN(TestE2eOutage)
#include "tst_e2e_outage.moc"
