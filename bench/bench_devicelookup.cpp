// Speed of the per-device look-up (GetDeviceInformation: the register row, the lock rows,
// the register row of each lock holder, ended by a rollback) with the database layer's own
// queries, on PostgreSQL and SQLite, with 200 register rows and 50 lock rows, in two layouts:
// 20 computers × 10 devices (5 lock rows per device) and 50 computers × 4 devices (12 or 13 per
// device). Also the atomic claim of a free device and the release. Prints its figures; goals on
// PostgreSQL: median look-up under 1 ms with 5 lock rows, under 2 ms with 12-13. PostgreSQL
// needs RAVLEK_TEST_PG_*.

#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "database/XrayDatabase.h"
#include "support/BenchFigures.h"
#include "support/PostgresTestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using pgtest::pgConnectionString;
using pgtest::pgVariable;

namespace {

constexpr int kComputers = 50;
constexpr int kDevices = 4;   // 50 × 4 = 200 register rows
constexpr int kLockRows = 50; // spread over the devices
constexpr int kLookUps = 2000;
constexpr int kClaims = 500;
const QString kStation = QStringLiteral("Digora OPTIME");

QString computer(int i) {
    return QStringLiteral("PC-%1").arg(i, 2, 10, QLatin1Char('0'));
}

QString label(int d) {
    return QStringLiteral("OPTIME-%1").arg(d);
}

// One workstation: the program's database layer, its queries and lock protocol, with its
// connection open and the transaction open that the program always keeps.
struct Workstation {
    explicit Workstation(const QString& connectionString) {
        database.Database1->SetConnectionString(connectionString);
        database.Database1->Open();
        database.Database1->BeginTrans();
    }

    TDataLinkState dataLink;
    TXrayDatabase database{dataLink};
    TDeviceLocks& locks = database.Locks();
};

void fill(TADOConnection& db, int computers, int devices) {
    TADOQuery create;
    create.SetConnection(&db);
    create.SetSQL(CreateXrayWorkstationsSql(db.Engine()));
    create.ExecSQL();
    create.SetSQL(CreateXrayDeviceLockListSql(db.Engine()));
    create.ExecSQL();
    db.BeginTrans();
    for (int c = 0; c < computers; ++c) {
        for (int d = 0; d < devices; ++d) {
            db.Execute(
                QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                               "STATIONID, IPADRESS) VALUES (:c, :s, :l, :w, :ip)"),
                {{QStringLiteral("c"), computer(c)},
                 {QStringLiteral("s"), kStation},
                 {QStringLiteral("l"), label(d)},
                 {QStringLiteral("w"), QStringLiteral("Room %1").arg(c)},
                 {QStringLiteral("ip"), QStringLiteral("10.0.%1.%2").arg(d).arg(c + 1)}});
        }
    }
    // Device d has the lock rows of computers d, d + devices, d + 2 × devices, ...
    for (int i = 0; i < kLockRows; ++i) {
        db.Execute(QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                                  "LOCKNUMBER) VALUES (:c, :s, :l, :n)"),
                   {{QStringLiteral("c"), computer(i)},
                    {QStringLiteral("s"), kStation},
                    {QStringLiteral("l"), label(i % devices)},
                    {QStringLiteral("n"), i / devices}});
    }
    db.CommitTrans();
}

struct Figures {
    double median = 0;
    double p90 = 0;
    double max = 0;
};

Figures figuresOf(const std::vector<double>& values) {
    return {median(values), p90(values), *std::max_element(values.begin(), values.end())};
}

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

void print(const char* what, const Figures& f) {
    std::printf("%-58s median %.3f ms  p90 %.3f ms  max %.3f ms\n", what, f.median, f.p90, f.max);
}

// Measures one layout on the database of `connectionString`, which holds no tables yet.
void measure(const QString& engine, const QString& connectionString, int computers, int devices,
             double goalMs) {
    {
        TADOConnection setup;
        setup.SetConnectionString(connectionString);
        setup.Open();
        fill(setup, computers, devices);

        Workstation ws(connectionString);
        const QString self = computer(computers - 1);
        const auto lookUp = [&](int i) {
            const TDeviceInformation information =
                ws.locks.GetDeviceInformation(self, kStation, label(i % devices));
            if (information.FirstHolder.isEmpty())
                qFatal("the look-up found no holder");
        };
        for (int i = 0; i < 100; ++i)
            lookUp(i);
        std::vector<double> times;
        for (int i = 0; i < kLookUps; ++i)
            times.push_back(millisecondsOf([&] { lookUp(i); }));
        const int perDevice = kLockRows / devices;
        std::printf("%s, %d computers x %d devices = %d register rows, %d lock rows (%d-%d per device)\n",
                    qPrintable(engine), computers, devices, computers * devices, kLockRows, perDevice,
                    perDevice + (kLockRows % devices ? 1 : 0));
        const QByteArray lookUpName =
            QStringLiteral("  GetDeviceInformation (%1-%2 SELECTs, rollback, begin)")
                .arg(perDevice + 2)
                .arg(perDevice + 2 + (kLockRows % devices ? 1 : 0))
                .toUtf8();
        const Figures lookUps = figuresOf(times);
        print(lookUpName.constData(), lookUps);
        if (goalMs > 0)
            std::printf("  goal: median look-up under %.0f ms: %s\n", goalMs,
                        lookUps.median < goalMs ? "met" : "NOT met");

        // The atomic claim of a free device and the release, as a click does them.
        setup.Execute(
            QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                           "STATIONID) VALUES (:c, :s, 'FREE', 'Room free')"),
            {{QStringLiteral("c"), self}, {QStringLiteral("s"), kStation}});
        const auto open = [](const TDeviceInformation&) { return 1; };
        std::vector<double> claims;
        std::vector<double> releases;
        for (int i = 0; i < kClaims; ++i) {
            claims.push_back(millisecondsOf([&] {
                if (ws.locks.ClaimDevice(self, kStation, QStringLiteral("FREE"), open).OpenResult != 1)
                    qFatal("the free device was not claimed");
            }));
            releases.push_back(millisecondsOf([&] { ws.locks.RemoveOwnLocks(self); }));
        }
        print("  ClaimDevice of a free device (atomic, commit, begin)", figuresOf(claims));
        print("  RemoveOwnLocks (DELETE, commit, begin)", figuresOf(releases));
    }
}

void measurePostgres(int computers, int devices, double goalMs) {
    const QString database =
        QStringLiteral("ravlek_bench_devicelookup_%1").arg(QCoreApplication::applicationPid());
    pgtest::createScratchDatabase(database);
    measure(QStringLiteral("PostgreSQL"), pgConnectionString(database), computers, devices, goalMs);
    pgtest::dropScratchDatabase(database);
}

void measureSqlite(const QTemporaryDir& folder, int computers, int devices) {
    const QString file = folder.filePath(QStringLiteral("lookup-%1x%2.sqlite").arg(computers).arg(devices));
    measure(QStringLiteral("SQLite"), QStringLiteral("Provider=SQLite;Data Source=") + file, computers,
            devices, 0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (pgVariable("HOST").isEmpty()) {
        std::printf("PostgreSQL is not configured (RAVLEK_TEST_PG_*): not measured\n");
    } else {
        measurePostgres(20, 10, 1);
        measurePostgres(50, 4, 2);
    }
    const QTemporaryDir folder;
    measureSqlite(folder, 20, 10);
    measureSqlite(folder, 50, 4);
    return 0;
}
