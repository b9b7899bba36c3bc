// The refresh of the main window's device list (UpdateDeviceList(false)), which blocks the
// window while it runs, on PostgreSQL and SQLite: 20 register devices of this computer over
// types 1 to 7, a quarter of them held by other computers, "(Idle)" selected so that every
// device item is refreshed. Free devices are probed through the simulated driver. Prints the
// median and p90 of 20 refreshes (goal on PostgreSQL: median under 30 ms), and the same passes
// split into the lock look-ups and the driver's probes, to show which part the time goes to.
// PostgreSQL needs RAVLEK_TEST_PG_*.

#include "database/DataLinkFile.h"
#include "database/KelvoDatabase.h"
#include "devices/DeviceList.h"
#include "devices/TRadioGroup.h"
#include "platform/DialogService.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USelectDevices.h"
#include "settings/USettings.h"
#include "sim/SimulatedDsd.h"
#include "sound/WavPlayer.h"
#include "support/BenchFigures.h"
#include "support/PostgresTestDatabase.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using pgtest::pgConnectionString;
using pgtest::pgVariable;

namespace {

constexpr int kRefreshes = 20;
constexpr int kWarmUps = 3;
constexpr int kFirstType = 1;
constexpr int kLastType = 7;
constexpr int kDevices = 20;
constexpr int kHeldEvery = 4; // every fourth device has lock rows of two other computers
constexpr double kGoalMs = 30;
const QString kThisComputer = QStringLiteral("BENCHPC");

struct Device {
    int type = 0;
    QString label;
    bool held = false;
};

QList<Device> registerDevices() {
    QList<Device> devices;
    for (int device = 0; device < kDevices; ++device)
        devices.append({kFirstType + device % (kLastType - kFirstType + 1),
                        QStringLiteral("DEV-%1").arg(device + 1, 2, 10, QLatin1Char('0')),
                        device % kHeldEvery == kHeldEvery - 1});
    return devices;
}

void insertStation(TADOConnection& db, const QString& computer, int type, const QString& label) {
    db.Execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                              "STATIONID, IPADRESS) VALUES (:c, :s, :l, :w, :ip)"),
               {{QStringLiteral("c"), computer},
                {QStringLiteral("s"), DefaultDeviceName(type)},
                {QStringLiteral("l"), label},
                {QStringLiteral("w"), QStringLiteral("Room of ") + computer},
                {QStringLiteral("ip"), QStringLiteral("10.0.0.%1").arg(type)}});
}

void insertLock(TADOConnection& db, const QString& computer, int type, const QString& label, int number) {
    db.Execute(QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                              "LOCKNUMBER) VALUES (:c, :s, :l, :n)"),
               {{QStringLiteral("c"), computer},
                {QStringLiteral("s"), DefaultDeviceName(type)},
                {QStringLiteral("l"), label},
                {QStringLiteral("n"), number}});
}

// The register rows of this computer, spread over the types in turn; returns how many
// devices are held by others. Several rows of one type all reach the simulated device of
// that type, which is enough for the list's work.
int fillRegister(const QString& connectionString) {
    TADOConnection db;
    db.SetConnectionString(connectionString);
    db.Open();
    db.BeginTrans();
    int held = 0;
    for (const Device& device : registerDevices()) {
        insertStation(db, kThisComputer, device.type, device.label);
        if (!device.held)
            continue;
        ++held;
        for (int holder = 0; holder < 2; ++holder) {
            const QString computer = device.label + QStringLiteral("-HOLDER-%1").arg(holder);
            insertStation(db, computer, device.type, device.label);
            insertLock(db, computer, device.type, device.label, holder);
        }
    }
    db.CommitTrans();
    return held;
}

int heldItems(const TRadioGroup& list) {
    int held = 0;
    for (int i = 0; i < list.Count(); ++i)
        held += list.ItemText(i).contains(QStringLiteral("ALREADYOPENED")) ? 1 : 0;
    return held;
}

// Builds the list as at start, selects "(Idle)" and times the refreshes.
std::vector<double> measureRefreshes(TXrayDatabase& database, TSimulatedDsd& scanner, int expectedHeld) {
    TRadioGroup list;
    QPushButton deviceSettings;
    TWavPlayer player{nullptr};
    TDeviceListLinks links;
    links.ImageTypeList = &list;
    links.btnDeviceSettings = &deviceSettings;
    links.ReadySoundPlayer = &player;
    links.Database = &database;
    links.ScanImage = [] {};
    links.FirstActivationMarker = [] { return 1; };
    TDeviceListController controller(std::move(links));
    controller.SetScanner(&scanner);

    controller.UpdateDeviceList(true);
    list.SetItemIndex(0);
    if (list.Count() != kDevices + 1 || list.ItemIndex() != 0 || heldItems(list) != expectedHeld) {
        std::fprintf(stderr, "unexpected list: %d items, item %d selected, %d held (expected %d, 0, %d)\n",
                     list.Count(), list.ItemIndex(), heldItems(list), kDevices + 1, expectedHeld);
        std::exit(1);
    }
    for (int run = 0; run < kWarmUps; ++run)
        controller.UpdateDeviceList(false);
    std::vector<double> times;
    for (int run = 0; run < kRefreshes; ++run) {
        QElapsedTimer clock;
        clock.start();
        controller.UpdateDeviceList(false);
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    if (heldItems(list) != expectedHeld) {
        std::fprintf(stderr, "the refreshes changed the held devices\n");
        std::exit(1);
    }
    return times;
}

double millisecondsOf(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

// The two parts of a refresh on their own, per pass over the list: the lock look-up of
// every device, and the driver's open, status and close of every free one.
struct Parts {
    std::vector<double> lookUps;
    std::vector<double> probes;
};

Parts measureParts(TXrayDatabase& database, TSimulatedDsd& scanner) {
    TDeviceLocks& locks = database.Locks();
    const QList<Device> devices = registerDevices();
    Parts parts;
    for (int run = 0; run < kWarmUps + kRefreshes; ++run) {
        const double lookUps = millisecondsOf([&] {
            for (const Device& device : devices)
                locks.GetDeviceInformation(kThisComputer, DefaultDeviceName(device.type), device.label);
        });
        const double probes = millisecondsOf([&] {
            for (const Device& device : devices) {
                if (device.held)
                    continue;
                if (scanner.OpenScanner(device.type, 1, QString()) == 1) {
                    scanner.GetScannerStatus();
                    scanner.CloseScanner();
                }
            }
        });
        if (run < kWarmUps)
            continue;
        parts.lookUps.push_back(lookUps);
        parts.probes.push_back(probes);
    }
    return parts;
}

struct Figures {
    double median = 0;
    double p90 = 0;
    double max = 0;
};

Figures figuresOf(const std::vector<double>& values) {
    return {median(values), p90(values), *std::max_element(values.begin(), values.end())};
}

void print(const char* what, const Figures& f) {
    std::printf("  %-44s median %7.2f ms  p90 %7.2f ms  max %7.2f ms\n", what, f.median, f.p90, f.max);
}

} // namespace

// Sets up an installation on the practice database `practice`, which holds no tables yet, and
// measures; prints the figures under `engine`.
int measure(const QString& engine, const QString& practice, double goalMs) {
    TestEnvironment environment(kThisComputer);
    std::vector<double> times;
    Parts parts;
    int held = 0;
    {
        // A data-link file of the practice database, so that no embedded default is written.
        QDir().mkpath(environment.path(QStringLiteral("machine/Common Files/System/Ole DB/Data Links")));
        WriteDataLinkFile(
            environment.path(QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Bench.udl")),
            practice);
        InitApplicationEnvironment({QStringLiteral("bench_devicelist")});
        TXrayDatabase layer(Environment(), ProgramDatabaseLinks());
        TfrmSettings window(layer);
        QStringList chosen;
        for (int type = kFirstType; type <= kLastType; ++type) {
            WriteSetting(QStringLiteral("DigoraDevices"), QString::number(type), DefaultDeviceName(type));
            chosen.append(QString::number(type));
        }
        const QString mark = QStringLiteral("\u00A4");
        WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"),
                     mark + chosen.join(mark) + mark);
        if (!window.ConnectToDatabase()) {
            std::fprintf(stderr, "connect failed\n");
            return 1;
        }
        held = fillRegister(practice);
        TSimulatedDsd scanner;
        times = measureRefreshes(layer, scanner, held);
        parts = measureParts(layer, scanner);
        layer.Database1->Close();
    }

    const Figures refresh = figuresOf(times);
    std::printf("UpdateDeviceList(false) on %s, \"(Idle)\" selected, %d refreshes\n", qPrintable(engine),
                kRefreshes);
    std::printf("  devices %d (types %d-%d, %d held by other computers, %d probed)\n", kDevices, kFirstType,
                kLastType, held, kDevices - held);
    print("refresh", refresh);
    if (goalMs > 0)
        std::printf("  goal: median refresh under %.0f ms: %s\n", goalMs,
                    refresh.median < goalMs ? "met" : "NOT met");
    std::printf("  the parts alone, per pass over the list:\n");
    print(qPrintable(QStringLiteral("lock look-ups of every device (%1)").arg(engine)),
          figuresOf(parts.lookUps));
    print("open/status/close of the free ones (sim)", figuresOf(parts.probes));
    return 0;
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Message boxes would wait for a user; the benchmark prints them and goes on.
    platform::UnattendedDialogService dialogs;
    platform::ScopedPort<platform::DialogService> scope(dialogs);

    if (pgVariable("HOST").isEmpty()) {
        std::printf("PostgreSQL is not configured (RAVLEK_TEST_PG_*): not measured\n");
    } else {
        const QString database =
            QStringLiteral("ravlek_bench_devicelist_%1").arg(QCoreApplication::applicationPid());
        pgtest::createScratchDatabase(database);
        const int failed = measure(QStringLiteral("PostgreSQL"), pgConnectionString(database), kGoalMs);
        pgtest::dropScratchDatabase(database);
        if (failed)
            return failed;
    }
    const QTemporaryDir folder;
    return measure(
        QStringLiteral("SQLite"),
        QStringLiteral("Provider=SQLite;Data Source=") + folder.filePath(QStringLiteral("bench.sqlite")), 0);
}
