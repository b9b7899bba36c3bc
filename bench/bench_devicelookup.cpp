// Speed of the per-device look-up (GetDeviceInformation: the register row, the lock rows,
// the register row of each lock holder, ended by a rollback) on PostgreSQL, with 200
// register rows and 50 lock rows, in two layouts: 20 computers × 10 devices (5 lock rows per
// device) and 50 computers × 4 devices (12 or 13 per device). Also the atomic claim of a free
// device and the release. Prints its figures; goal: median look-up < 2 ms. Needs
// RAVLEK_TEST_PG_*.

#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "database/XrayDatabase.h"
#include "support/BenchFigures.h"
#include "support/PostgresTestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>

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
    create.SetSQL(CreateXrayWorkstationsSql(DataLinkEngine::PostgreSQL));
    create.ExecSQL();
    create.SetSQL(CreateXrayDeviceLockListSql(DataLinkEngine::PostgreSQL));
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

void measure(int computers, int devices) {
    const QString database =
        QStringLiteral("ravlek_bench_devicelookup_%1").arg(QCoreApplication::applicationPid());
    pgtest::createScratchDatabase(database);
    {
        TADOConnection setup;
        setup.SetConnectionString(pgConnectionString(database));
        setup.Open();
        fill(setup, computers, devices);

        Workstation ws(pgConnectionString(database));
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
        std::printf(
            "PostgreSQL, %d computers x %d devices = %d register rows, %d lock rows (%d-%d per device)\n",
            computers, devices, computers * devices, kLockRows, perDevice,
            perDevice + (kLockRows % devices ? 1 : 0));
        const QByteArray lookUpName =
            QStringLiteral("  GetDeviceInformation (%1-%2 SELECTs, rollback, begin)")
                .arg(perDevice + 2)
                .arg(perDevice + 2 + (kLockRows % devices ? 1 : 0))
                .toUtf8();
        print(lookUpName.constData(), figuresOf(times));

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
    pgtest::dropScratchDatabase(database);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (pgVariable("HOST").isEmpty()) {
        std::printf("PostgreSQL is not configured (RAVLEK_TEST_PG_*): nothing measured\n");
        return 0;
    }
    measure(20, 10);
    measure(50, 4);
    return 0;
}
