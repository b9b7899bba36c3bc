// A soak of the workstation lock protocol: 8 workstation processes contend for one device
// for a while (3 minutes by default), on PostgreSQL and on one shared SQLite file. Each
// process is this program started again as a lean workstation that runs the database layer's
// own lock operations, as the program's device list does: the atomic claim (ClaimDevice),
// which opens the device or queues; a hold of 100-300 ms, as for an exposure; then the device
// closed and this computer's locks removed (RemoveOwnLocks), and after 100 ms the next claim,
// which queues at the end. A refused claim is retried after 100 ms (the program waits 5 s).
//
// The device is a file naming the workstation that has it open. It never refuses, so that a
// fault of the protocol is counted rather than hidden by the device: a claim that finds the
// device open by another when it opens it counts a moment with two holders. Meanwhile this
// program looks at the device and the lock list every 20 ms, and counts the moments when the
// list has two holder rows (LOCKNUMBER 0) or names another holder than the workstation that
// has the device open. Prints hand-overs per minute and both counts, which must be 0.
//
//   bench_soak [--seconds N] [--engine sqlite|postgresql|both]
//
// PostgreSQL needs RAVLEK_TEST_PG_*; without them only SQLite runs.

#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "database/XrayDatabase.h"
#include "platform/DialogService.h"
#include "support/PostgresTestDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int kWorkstations = 8;
const QString kStation = QStringLiteral("Digora");
const QString kLabel = QStringLiteral("Plate 1");

QString computer(int i) {
    return QStringLiteral("WS%1").arg(i + 1);
}

// ---- the device -------------------------------------------------------------------------------

QString deviceHolder(const QString& device) {
    QFile file(device);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void setDeviceHolder(const QString& device, const QString& holder) {
    QSaveFile file(device);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(holder.toUtf8());
        file.commit();
    }
}

// ---- one workstation (a process of its own) ---------------------------------------------------

// Counts the messages the lock operations show; a sound run shows none.
class CountingDialogs : public platform::DialogService {
public:
    CountingDialogs()
        : m_scope(*this) {}
    platform::DialogButton show(const platform::DialogRequest& request) override {
        if (++shown <= 3)
            std::fprintf(stderr, "message: %s\n", qPrintable(request.text));
        return platform::DialogButton::Ok;
    }
    int shown = 0;

private:
    platform::ScopedPort<platform::DialogService> m_scope;
};

void sleepMs(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

int runWorkstation(const QString& name, const QString& connectionString, const QString& device,
                   qint64 until) {
    CountingDialogs dialogs;
    TDataLinkState dataLink;
    dataLink.ConnectionString = connectionString;
    TXrayDatabase database(dataLink);
    try {
        database.Connect();
    } catch (const EDatabaseError& error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error.Message()));
        return 1;
    }
    TDeviceLocks& locks = database.Locks();
    int acquisitions = 0;
    int claims = 0;
    int twoHolders = 0;
    const auto open = [&](const TDeviceInformation&) {
        if (!deviceHolder(device).isEmpty())
            ++twoHolders;
        setDeviceHolder(device, name);
        return 1;
    };
    while (QDateTime::currentMSecsSinceEpoch() < until) {
        ++claims;
        const TDeviceLocks::TClaim claim = locks.ClaimDevice(name, kStation, kLabel, open);
        if (claim.OpenResult != 1) {
            sleepMs(100);
            continue;
        }
        ++acquisitions;
        sleepMs(100 + int(QRandomGenerator::global()->bounded(200)));
        // Given up as the program gives it up: the device closed first, then the lock.
        if (deviceHolder(device) == name)
            setDeviceHolder(device, QString());
        locks.RemoveOwnLocks(name);
        sleepMs(100);
    }
    std::printf("acquisitions=%d claims=%d twoholders=%d messages=%d\n", acquisitions, claims, twoHolders,
                dialogs.shown);
    return 0;
}

// ---- the soak ---------------------------------------------------------------------------------

struct Totals {
    int acquisitions = 0;
    int claims = 0;
    int twoHolders = 0;
    int messages = 0;
    int looks = 0;
    int tableTwoHolders = 0;
    int tableNamesAnother = 0;
    bool failed = false;
};

// The test's own look at the lock list: "COMPUTERNAME LOCKNUMBER" in queue order.
std::optional<QStringList> lockRows(TADOConnection& connection) {
    try {
        TADOQuery query;
        query.SetConnection(&connection);
        query.SetSQL({QStringLiteral("SELECT COMPUTERNAME, LOCKNUMBER FROM XRAYDEVICELOCKLIST "
                                     "ORDER BY LOCKNUMBER, COMPUTERNAME")});
        query.Open();
        QStringList rows;
        for (query.First(); !query.Eof(); query.Next())
            rows.append(query.Fields(0).AsString() + QLatin1Char(' ') + query.Fields(1).AsString());
        return rows;
    } catch (const EDatabaseError&) {
        return std::nullopt;
    }
}

void prepare(TADOConnection& office) {
    for (const QStringList& create :
         {CreateXrayWorkstationsSql(office.Engine()), CreateXrayDeviceLockListSql(office.Engine())})
        office.Execute(create.join(QLatin1Char('\n')));
    for (int i = 0; i < kWorkstations; ++i) {
        office.Execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (:c, :s, :l, :w, NULL)"),
                       {{QStringLiteral("c"), computer(i)},
                        {QStringLiteral("s"), kStation},
                        {QStringLiteral("l"), kLabel},
                        {QStringLiteral("w"), QStringLiteral("Room %1").arg(i + 1)}});
    }
}

Totals soak(const QString& connectionString, const QString& folder, int seconds) {
    Totals totals;
    TADOConnection office;
    office.SetConnectionString(connectionString);
    office.Open();
    prepare(office);

    const QString device = folder + QStringLiteral("/device");
    setDeviceHolder(device, QString());
    const qint64 until = QDateTime::currentMSecsSinceEpoch() + qint64(seconds) * 1000;
    std::vector<std::unique_ptr<QProcess>> workstations;
    for (int i = 0; i < kWorkstations; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--workstation"), computer(i), QStringLiteral("--connection"),
                        connectionString, QStringLiteral("--device"), device, QStringLiteral("--until"),
                        QString::number(until)});
        workstations.push_back(std::move(process));
    }

    while (QDateTime::currentMSecsSinceEpoch() < until) {
        const QString before = deviceHolder(device);
        const std::optional<QStringList> rows = lockRows(office);
        const QString after = deviceHolder(device);
        sleepMs(20);
        if (!rows)
            continue;
        ++totals.looks;
        if (rows->filter(QRegularExpression(QStringLiteral(" 0$"))).size() > 1)
            ++totals.tableTwoHolders;
        if (before == after && !after.isEmpty() && !rows->isEmpty() &&
            rows->first().section(QLatin1Char(' '), 0, 0) != after) {
            ++totals.tableNamesAnother;
            if (totals.tableNamesAnother <= 3)
                std::fprintf(stderr, "%s has the device open, the lock list says: %s\n", qPrintable(after),
                             qPrintable(rows->join(QStringLiteral(", "))));
        }
    }

    for (auto& process : workstations) {
        if (!process->waitForFinished(60000) || process->exitCode() != 0) {
            totals.failed = true;
            process->kill();
            process->waitForFinished();
        }
        const QString report = QString::fromUtf8(process->readAllStandardOutput());
        for (const QString& part :
             report.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            const int value = part.section(QLatin1Char('='), 1).toInt();
            const QString key = part.section(QLatin1Char('='), 0, 0);
            if (key == QStringLiteral("acquisitions"))
                totals.acquisitions += value;
            else if (key == QStringLiteral("claims"))
                totals.claims += value;
            else if (key == QStringLiteral("twoholders"))
                totals.twoHolders += value;
            else if (key == QStringLiteral("messages"))
                totals.messages += value;
        }
    }
    return totals;
}

bool printTotals(const char* engine, const Totals& totals, int seconds) {
    const double minutes = seconds / 60.0;
    std::printf("%-10s  %d workstations, %d s: hand-overs %.0f/min (%d), claims %.0f/min, looks %d\n", engine,
                kWorkstations, seconds, totals.acquisitions / minutes, totals.acquisitions,
                totals.claims / minutes, totals.looks);
    std::printf(
        "%-10s  moments with two holders: %d (claims that found the device open: %d, lock list with two "
        "holder rows: %d)\n",
        engine, totals.twoHolders + totals.tableTwoHolders, totals.twoHolders, totals.tableTwoHolders);
    std::printf("%-10s  moments the lock list named another holder: %d; messages shown: %d%s\n", engine,
                totals.tableNamesAnother, totals.messages, totals.failed ? "; A WORKSTATION FAILED" : "");
    std::fflush(stdout);
    return !totals.failed && totals.twoHolders + totals.tableTwoHolders + totals.tableNamesAnother == 0 &&
           totals.messages == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of each soak."),
                                           QStringLiteral("seconds"), QStringLiteral("180"));
    const QCommandLineOption engineOption(QStringLiteral("engine"),
                                          QStringLiteral("sqlite, postgresql or both."),
                                          QStringLiteral("engine"), QStringLiteral("both"));
    const QCommandLineOption workstationOption(QStringLiteral("workstation"), QString(),
                                               QStringLiteral("name"));
    const QCommandLineOption connectionOption(QStringLiteral("connection"), QString(),
                                              QStringLiteral("string"));
    const QCommandLineOption deviceOption(QStringLiteral("device"), QString(), QStringLiteral("file"));
    const QCommandLineOption untilOption(QStringLiteral("until"), QString(), QStringLiteral("ms"));
    parser.addOptions(
        {secondsOption, engineOption, workstationOption, connectionOption, deviceOption, untilOption});
    parser.process(app);
    if (parser.isSet(workstationOption))
        return runWorkstation(parser.value(workstationOption), parser.value(connectionOption),
                              parser.value(deviceOption), parser.value(untilOption).toLongLong());

    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    const QString engine = parser.value(engineOption);
    bool sound = true;
    if (engine == QStringLiteral("sqlite") || engine == QStringLiteral("both")) {
        QTemporaryDir folder;
        const Totals totals = soak(QStringLiteral("Provider=SQLite;Data Source=") +
                                       folder.filePath(QStringLiteral("practice.sqlite")),
                                   folder.path(), seconds);
        sound = printTotals("SQLite", totals, seconds) && sound;
    }
    if (engine == QStringLiteral("postgresql") || engine == QStringLiteral("both")) {
        if (!pgtest::pgConfigured()) {
            std::printf("PostgreSQL  skipped: RAVLEK_TEST_PG_* are not set\n");
        } else {
            const QString name =
                QStringLiteral("ravlek_bench_soak_%1").arg(QCoreApplication::applicationPid());
            pgtest::createScratchDatabase(name);
            QTemporaryDir folder;
            const Totals totals = soak(pgtest::pgConnectionString(name), folder.path(), seconds);
            sound = printTotals("PostgreSQL", totals, seconds) && sound;
            pgtest::dropScratchDatabase(name);
        }
    }
    return sound ? 0 : 1;
}
