// ConnectToDatabase from the call to a ready register, on SQLite and on PostgreSQL: the
// first connect to a database without tables (both are created) and a reconnect to one
// that has them. Prints the median of 20 runs of each.

#include "database/DataLinkFile.h"
#include "platform/DialogService.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USettings.h"
#include "support/BenchFigures.h"
#include "support/PostgresTestDatabase.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using pgtest::pgConnectionString;
using pgtest::pgVariable;

namespace {

constexpr int kRuns = 20;

void execute(const QString& connectionString, const QStringList& statements) {
    TADOConnection connection;
    connection.SetConnectionString(connectionString);
    connection.Open();
    connection.Execute(QStringLiteral("SET client_min_messages TO WARNING"));
    for (const QString& sql : statements)
        connection.Execute(sql);
}

// Times `kRuns` connects; `prepare` runs before each, outside the clock, and gives the
// connection string to use.
double medianConnect(TfrmSettings& window, const std::function<QString(int)>& prepare) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        const QString connectionString = prepare(run);
        Environment().ConnectionString = connectionString;
        QElapsedTimer clock;
        clock.start();
        const bool connected = window.ConnectToDatabase();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!connected) {
            std::fprintf(stderr, "connect failed\n");
            std::exit(1);
        }
    }
    return median(times);
}

void report(const char* engine, double first, double again) {
    std::printf("%-10s first connect, creates both tables: %8.2f ms   reconnect, tables exist: %8.2f ms\n",
                engine, first, again);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestEnvironment environment;
    // Message boxes would wait for a user; the benchmark prints them and goes on.
    platform::UnattendedDialogService dialogs;
    platform::ScopedPort<platform::DialogService> scope(dialogs);
    // A data-link file, so that no embedded default is written.
    QDir().mkpath(environment.path(QStringLiteral("machine/Common Files/System/Ole DB/Data Links")));
    WriteDataLinkFile(
        environment.path(QStringLiteral("machine/Common Files/System/Ole DB/Data Links/Bench.udl")),
        QStringLiteral("Provider=SQLite;Data Source=") + environment.path(QStringLiteral("unused.sqlite")));
    InitApplicationEnvironment({QStringLiteral("bench_connect")});
    TXrayDatabase layer(Environment(), ProgramDatabaseLinks());
    TfrmSettings window(layer);
    std::printf("ConnectToDatabase to a ready register, median of %d runs\n", kRuns);

    const auto sqliteFile = [&environment](int run) {
        return QStringLiteral("Provider=SQLite;Data Source=") +
               environment.path(QStringLiteral("sqlite/run%1.sqlite").arg(run));
    };
    const double sqliteFirst = medianConnect(window, sqliteFile);
    const double sqliteAgain = medianConnect(window, [&](int) { return sqliteFile(0); });
    report("SQLite", sqliteFirst, sqliteAgain);

    if (pgVariable("HOST").isEmpty()) {
        std::printf("PostgreSQL: not measured (RAVLEK_TEST_PG_* not set)\n");
        return 0;
    }
    const QString database =
        QStringLiteral("ravlek_bench_connect_%1").arg(QCoreApplication::applicationPid());
    pgtest::createScratchDatabase(database);
    const QString practice = pgConnectionString(database);
    const double pgFirst = medianConnect(window, [&](int) {
        layer.Database1->Close();
        execute(practice,
                {QStringLiteral("DROP SCHEMA public CASCADE"), QStringLiteral("CREATE SCHEMA public")});
        return practice;
    });
    const double pgAgain = medianConnect(window, [&](int) { return practice; });
    report("PostgreSQL", pgFirst, pgAgain);
    layer.Database1->Close();
    pgtest::dropScratchDatabase(database);
    return 0;
}
