// Two workstations contending for one network device, each a real ravlek process with its own
// computer name, meeting only through the practice database and the simulated device: the
// second queues behind the first, takes the device at its first retry after the first has
// closed, and at no moment do both hold it. Also a workstation ended from outside (a logout,
// a shutdown, `kill`), which must give the device up as its Close button does.

#include "E2eInstallation.h"
#include "database/DataLinkFile.h"
#include "database/KelvoSchema.h"
#include "support/PostgresTestDatabase.h"

#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>

using namespace e2e;
using pgtest::pgVariable;

namespace {

const QString kSqlite = QStringLiteral("sqlite");
const QString kPostgres = QStringLiteral("postgresql");
const QString kDevice = QStringLiteral("192.0.2.1"); // the catalogue's Digora (type 1)

// The device is open in process `pid`, which has armed it for a scan.
bool armedBy(const SimDeviceFolder& device, qint64 pid) {
    const std::optional<SimDeviceReport> report = device.report();
    return pid != 0 && device.openedBy() == pid && report && report->pid == pid && report->armed;
}

// The practice database of one test: a fresh PostgreSQL database, or an SQLite file, with the
// two tables; the test reads the lock rows through its own connection.
class PracticeDatabase {
public:
    PracticeDatabase(const QString& engine, const QString& folder)
        : m_engine(engine) {
        if (engine == kPostgres) {
            m_database = QStringLiteral("ravlek_e2e_%1").arg(QCoreApplication::applicationPid());
            m_error = administer({QStringLiteral("SET client_min_messages TO WARNING"),
                                  QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database),
                                  QStringLiteral("CREATE DATABASE ") + m_database});
        } else {
            m_database = folder + QStringLiteral("/practice.sqlite");
        }
        if (m_error.isEmpty())
            open(m_connection, m_database);
    }
    ~PracticeDatabase() {
        QSqlDatabase::database(m_connection).close();
        QSqlDatabase::removeDatabase(m_connection);
        if (m_engine == kPostgres)
            administer({QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database)});
    }

    // Empty when the database is usable, else why not.
    QString error() const {
        return m_error.isEmpty() ? QSqlDatabase::database(m_connection).lastError().text().trimmed()
                                 : m_error;
    }

    // The connection string of the data-link file that points ravlek at this database.
    QString connectionString() const {
        if (m_engine == kSqlite)
            return QStringLiteral("Provider=SQLite;Data Source=") + m_database;
        return pgtest::pgConnectionString(m_database);
    }

    // Runs one statement; empty when it succeeded, else the engine's text.
    QString exec(const QString& sql, const QVariantList& values = {}) const {
        QSqlQuery query(QSqlDatabase::database(m_connection));
        if (values.isEmpty())
            return query.exec(sql) ? QString() : query.lastError().text();
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return query.exec() ? QString() : query.lastError().text();
    }

    QString createTables() const {
        const DataLinkEngine engine =
            m_engine == kPostgres ? DataLinkEngine::PostgreSQL : DataLinkEngine::SQLite;
        for (const QStringList& create :
             {CreateXrayWorkstationsSql(engine), CreateXrayDeviceLockListSql(engine)})
            if (QString failure = exec(create.join(QLatin1Char('\n'))); !failure.isEmpty())
                return failure;
        return {};
    }

    // The lock rows of every device as "COMPUTERNAME LOCKNUMBER", in queue order.
    QStringList locks() const {
        QSqlQuery query(QSqlDatabase::database(m_connection));
        QStringList rows;
        if (!query.exec(QStringLiteral("SELECT COMPUTERNAME, LOCKNUMBER FROM XRAYDEVICELOCKLIST "
                                       "ORDER BY LOCKNUMBER, COMPUTERNAME")))
            return {QStringLiteral("error: ") + query.lastError().text()};
        while (query.next())
            rows.append(query.value(0).toString() + QLatin1Char(' ') + query.value(1).toString());
        return rows;
    }

private:
    // Runs statements on the server's own test database, where databases are made and dropped.
    QString administer(const QStringList& statements) const {
        const QString name = QStringLiteral("e2e-admin");
        QString failure;
        {
            const QSqlDatabase admin = open(name, pgVariable("DATABASE"));
            for (const QString& sql : statements) {
                QSqlQuery query(admin);
                if (failure.isEmpty() && !query.exec(sql))
                    failure = query.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase(name);
        return failure;
    }

    QSqlDatabase open(const QString& connection, const QString& database) const {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            m_engine == kPostgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(database);
        if (m_engine == kPostgres) {
            db.setHostName(pgVariable("HOST"));
            db.setPort(pgVariable("PORT").toInt());
            db.setUserName(pgVariable("USER"));
            db.setPassword(pgVariable("PASSWORD"));
        }
        db.open();
        return db;
    }

    QString m_engine;
    QString m_database;
    QString m_error;
    const QString m_connection = QStringLiteral("e2e-practice");
};

// One workstation: ravlek-host and its ravlek under a computer name of their own, with a bus
// of their own (two copies on one bus would be one program started twice), sharing the
// settings, the practice database and the simulated devices.
class Workstation {
public:
    Workstation(const TestEnvironment& env, const QString& computer, const QString& patient)
        : m_host(QStringLiteral("ravlek-host"),
                 {QStringLiteral("PNR=") + patient,
                  QStringLiteral("OUTDIR=") + env.path(QStringLiteral("xray/"))},
                 environment(env, computer)) {}

    // The folder of this workstation's window bus.
    static QString busFolder(const TestEnvironment& env, const QString& computer) {
        return env.path(QStringLiteral("runtime-") + computer + QStringLiteral("/kelvo-bus"));
    }

    // The ravlek process of this workstation (0 before it has been started).
    qint64 ravlekPid() {
        if (m_ravlek == 0)
            m_ravlek = m_host.firstChild();
        return m_ravlek;
    }
    RunningProgram& host() { return m_host; }

private:
    static QProcessEnvironment environment(const TestEnvironment& env, const QString& computer) {
        QProcessEnvironment environment = programEnvironment();
        environment.insert(QStringLiteral("KELVO_COMPUTERNAME"), computer);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           env.makeFolder(QStringLiteral("runtime-") + computer));
        return environment;
    }

    RunningProgram m_host;
    qint64 m_ravlek = 0;
};

} // namespace

class TestE2eWorkstations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void contention_data();
    void contention();
    void endedFromOutside_data();
    void endedFromOutside();

private:
    // A practice database with the two tables, the Digora "Plate 1" registered for WS1 and WS2,
    // ravlek's data link pointing at it, and capture-station settings.
    void preparePractice(const TestEnvironment& env, const PracticeDatabase& db);
    // Checked at every look while the workstations run: never two holders.
    void checkOneHolder(const PracticeDatabase& db, const SimDeviceFolder& device, Workstation& first,
                        Workstation& second);
};

void TestE2eWorkstations::contention_data() {
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << kSqlite;
    QTest::newRow("postgresql") << kPostgres;
}

void TestE2eWorkstations::checkOneHolder(const PracticeDatabase& db, const SimDeviceFolder& device,
                                         Workstation& first, Workstation& second) {
    const QStringList rows = db.locks();
    QVERIFY2(rows.filter(QRegularExpression(QStringLiteral(" 0$"))).size() <= 1,
             qPrintable(rows.join(u", ")));
    const qint64 holder = device.openedBy();
    QVERIFY2(holder == 0 || holder == first.ravlekPid() || holder == second.ravlekPid(),
             qPrintable(QStringLiteral("device held by pid %1").arg(holder)));
}

void TestE2eWorkstations::contention() {
    QFETCH(QString, engine);
    if (engine == kPostgres && !pgtest::requirePostgres())
        return;

    TestEnvironment env;
    PracticeDatabase db(engine, env.root());
    QVERIFY2(db.error().isEmpty(), qPrintable(db.error()));
    QCOMPARE(db.createTables(), QString());
    preparePractice(env, db);
    if (QTest::currentTestFailed())
        return;
    const std::optional<SimDeviceFolder> device = simulatedDevice(kDevice);
    QVERIFY(device);

    const int kStartTimeout = 30000;
    Workstation first(env, QStringLiteral("WS1"), QStringLiteral("101"));
    QTRY_VERIFY2_WITH_TIMEOUT(armedBy(*device, first.ravlekPid()),
                              "the first workstation did not open and arm the device", kStartTimeout);
    QCOMPARE(db.locks(), QStringList{QStringLiteral("WS1 0")});

    Workstation second(env, QStringLiteral("WS2"), QStringLiteral("102"));
    // The second finds the device held, leaves it closed and queues behind the first.
    QTRY_VERIFY2_WITH_TIMEOUT(db.locks() == (QStringList{QStringLiteral("WS1 0"), QStringLiteral("WS2 1")}),
                              qPrintable(db.locks().join(u", ")), kStartTimeout);
    QCOMPARE(device->openedBy(), first.ravlekPid());
    // Its retries come every five seconds; one of them passes here and keeps the single place.
    for (QDeadlineTimer wait(6000); !wait.hasExpired();) {
        checkOneHolder(db, *device, first, second);
        if (QTest::currentTestFailed())
            return;
        QTest::qWait(200);
    }
    QCOMPARE(db.locks(), (QStringList{QStringLiteral("WS1 0"), QStringLiteral("WS2 1")}));

    // An image at the first workstation closes it (one-shot), which gives up its lock.
    QCOMPARE(simulator({QStringLiteral("expose"), kDevice, QStringLiteral("--wait")}), QString());
    const ProgramRun firstRun = first.host().wait(kStartTimeout);
    QVERIFY2(firstRun.finished && firstRun.exitCode == 0, qPrintable(firstRun.describe()));
    QCOMPARE(firstRun.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=101 lParam=0"),
                                              QStringLiteral("XRAY_TRANSFERRED wParam=101 lParam=0")}));

    // The second takes the device at its next retry: its queue row becomes the holder's.
    for (QDeadlineTimer wait(kStartTimeout); !wait.hasExpired();) {
        checkOneHolder(db, *device, first, second);
        if (QTest::currentTestFailed())
            return;
        if (armedBy(*device, second.ravlekPid()))
            break;
        QTest::qWait(100);
    }
    QCOMPARE(device->openedBy(), second.ravlekPid());
    QTRY_COMPARE_WITH_TIMEOUT(db.locks(), QStringList{QStringLiteral("WS2 0")}, kStartTimeout);

    QCOMPARE(simulator({QStringLiteral("expose"), kDevice, QStringLiteral("--wait")}), QString());
    const ProgramRun secondRun = second.host().wait(kStartTimeout);
    QVERIFY2(secondRun.finished && secondRun.exitCode == 0, qPrintable(secondRun.describe()));
    QCOMPARE(secondRun.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=102 lParam=0"),
                                               QStringLiteral("XRAY_TRANSFERRED wParam=102 lParam=0")}));
    QCOMPARE(db.locks(), QStringList{});
    QVERIFY(!device->isOpen());

    // Each image went to its own patient, stamped with the workstation that took it.
    const QStringList firstInformation = fileLines(env.path(QStringLiteral("xray/101/Rtg101_1.xnf")));
    QVERIFY(firstInformation.contains(QStringLiteral("StationName=WS1: Room 1")));
    const QStringList secondInformation = fileLines(env.path(QStringLiteral("xray/102/Rtg102_1.xnf")));
    QVERIFY2(!secondInformation.filter(QRegularExpression(QStringLiteral("^StationName=WS2: "))).isEmpty(),
             qPrintable(secondInformation.join(u'\n')));
}

void TestE2eWorkstations::preparePractice(const TestEnvironment& env, const PracticeDatabase& db) {
    env.makeFolder(QStringLiteral("xray"));
    // Both computers may use the Digora "Plate 1"; each knows itself by its own station name.
    for (const auto& [computer, station] : {std::pair{QStringLiteral("WS1"), QStringLiteral("Room 1")},
                                            std::pair{QStringLiteral("WS2"), QStringLiteral("Room 2")}})
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (?, ?, ?, ?, ?)"),
                         {computer, QStringLiteral("Digora"), QStringLiteral("Plate 1"), station, kDevice}),
                 QString());

    InitApplicationEnvironment({QStringLiteral("tst_e2e_workstations")});
    QDir().mkpath(Environment().DataLinksPath);
    QVERIFY(WriteDataLinkFile(Environment().DataLinksPath + QStringLiteral("Practice.udl"),
                              db.connectionString()));
    QCOMPARE(setSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"),
                        QStringLiteral("Practice.udl")),
             QString());
    QCOMPARE(configureCaptureStation(QStringLiteral("¤1¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("stage"), kDevice, QStringLiteral("50")}), QString());
}

void TestE2eWorkstations::endedFromOutside_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM: shutdown, kill") << int(SIGTERM);
    QTest::newRow("SIGINT: Ctrl+C") << int(SIGINT);
    QTest::newRow("SIGHUP: logout, terminal gone") << int(SIGHUP);
}

// Ended by a signal while it holds the device, ravlek closes as its Close button would: the
// device closed, its lock row removed, the host told, its windows gone from the bus.
void TestE2eWorkstations::endedFromOutside() {
    QFETCH(int, signal);
    // As from the desktop: a signal that whoever runs the tests ignores (a shell's background
    // job ignores SIGINT) would be ignored by ravlek too, on purpose.
    const auto previous = std::signal(signal, SIG_DFL);
    const auto restore = qScopeGuard([&] { std::signal(signal, previous); });
    TestEnvironment env;
    PracticeDatabase db(kSqlite, env.root());
    QVERIFY2(db.error().isEmpty(), qPrintable(db.error()));
    QCOMPARE(db.createTables(), QString());
    preparePractice(env, db);
    if (QTest::currentTestFailed())
        return;
    const std::optional<SimDeviceFolder> device = simulatedDevice(kDevice);
    QVERIFY(device);

    Workstation station(env, QStringLiteral("WS1"), QStringLiteral("101"));
    QTRY_VERIFY2_WITH_TIMEOUT(armedBy(*device, station.ravlekPid()),
                              "the workstation did not open the device", 30000);
    QCOMPARE(db.locks(), QStringList{QStringLiteral("WS1 0")});
    const QString bus = Workstation::busFolder(env, QStringLiteral("WS1"));
    QVERIFY(!QDir(bus).entryList({QStringLiteral("*.window")}, QDir::Files).isEmpty());

    QCOMPARE(::kill(pid_t(station.ravlekPid()), signal), 0);
    const ProgramRun run = station.host().wait(30000);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.notices(), QStringList{QStringLiteral("XRAY_TRANSFERRED wParam=101 lParam=0")});
    QCOMPARE(db.locks(), QStringList{});
    QVERIFY(!device->isOpen());
    // Nothing of either program is left on the bus: no entry, no socket. The progress program
    // that the database connect started ends by itself shortly after its client has gone.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(bus).entryList({QStringLiteral("*.window"), QStringLiteral("*.sock")},
                                                  QDir::Files | QDir::System | QDir::Hidden),
                              QStringList{}, 10000);
}

QTEST_GUILESS_MAIN(TestE2eWorkstations)
#include "tst_e2e_workstations.moc"
