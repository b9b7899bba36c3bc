// Requests to end the program (SIGTERM, SIGINT, SIGHUP) caught while watched and handled from
// the event loop; unwatched, they end the process as always. The cases where the process must
// end run in a copy of this program ("--raise ...").

#include "platform/SignalTerminationRequests.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstring>

using platform::SignalTerminationRequests;
using platform::TerminationWatch;

namespace {

const char* const kRaiseStep = "--raise";

// `--raise <signal> <watched 0/1>`: raises the signal, while a watch is active or after one
// has ended, and reports on its output what the handler saw.
int raiseStep(const QStringList& arguments) {
    const int signal = arguments.value(1).toInt();
    const bool watched = arguments.value(2) == QLatin1String("1");
    SignalTerminationRequests requests;
    auto watch = requests.watch([](const QString& request) {
        QTextStream(stdout) << request << Qt::endl;
        QCoreApplication::exit(0);
    });
    if (!watched)
        watch.reset();
    QTimer::singleShot(0, [signal] { std::raise(signal); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(2); });
    return QCoreApplication::exec();
}

} // namespace

class TestTerminationRequests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void requestsReachTheEventLoop_data();
    void requestsReachTheEventLoop();
    void everyRequestIsDelivered();
    void oneWatchAtATime();
    void endedWatchLetsRequestsEndTheProcess_data();
    void endedWatchLetsRequestsEndTheProcess();
    void ignoredSignalStaysIgnored();
};

void TestTerminationRequests::requestsReachTheEventLoop_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("SIGTERM");
    QTest::newRow("SIGINT") << int(SIGINT) << QStringLiteral("SIGINT");
    QTest::newRow("SIGHUP") << int(SIGHUP) << QStringLiteral("SIGHUP");
}

// The handler runs later, from the loop, not inside the signal.
void TestTerminationRequests::requestsReachTheEventLoop() {
    QFETCH(int, signal);
    QFETCH(QString, name);
    SignalTerminationRequests requests;
    QStringList received;
    const auto watch = requests.watch([&](const QString& request) { received.append(request); });
    QVERIFY(watch);
    QCOMPARE(std::raise(signal), 0);
    QCOMPARE(received, QStringList{});
    QTRY_COMPARE(received, QStringList{name});
}

// Requests that come before the loop runs are all handled, in order.
void TestTerminationRequests::everyRequestIsDelivered() {
    SignalTerminationRequests requests;
    QStringList received;
    const auto watch = requests.watch([&](const QString& request) { received.append(request); });
    QVERIFY(watch);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT, SIGTERM})
        QCOMPARE(std::raise(signal), 0);
    QTRY_COMPARE(received, (QStringList{QStringLiteral("SIGHUP"), QStringLiteral("SIGTERM"),
                                        QStringLiteral("SIGINT"), QStringLiteral("SIGTERM")}));
}

// The signals belong to the whole process: a second watch would take them from the first.
void TestTerminationRequests::oneWatchAtATime() {
    SignalTerminationRequests requests;
    auto first = requests.watch([](const QString&) {});
    QVERIFY(first);
    QVERIFY(!requests.watch([](const QString&) {}));
    first.reset();
    QVERIFY(requests.watch([](const QString&) {}));
}

void TestTerminationRequests::endedWatchLetsRequestsEndTheProcess_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("watched");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTest::addRow("SIG%s watched", sigabbrev_np(signal)) << signal << true;
        QTest::addRow("SIG%s after the watch", sigabbrev_np(signal)) << signal << false;
    }
}

void TestTerminationRequests::endedWatchLetsRequestsEndTheProcess() {
    QFETCH(int, signal);
    QFETCH(bool, watched);
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(),
                  {QString::fromLatin1(kRaiseStep), QString::number(signal), watched ? u"1"_qs : u"0"_qs});
    QVERIFY(process.waitForFinished(30000));
    if (watched) {
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
                 QString::fromLatin1(sigabbrev_np(signal)).prepend(u"SIG"_qs));
    } else {
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), signal);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }
}

// Started the way `nohup` starts a program: SIGHUP ignored. The watch leaves it so, and
// still catches the others.
void TestTerminationRequests::ignoredSignalStaysIgnored() {
    std::signal(SIGHUP, SIG_IGN);
    {
        SignalTerminationRequests requests;
        QStringList received;
        const auto watch = requests.watch([&](const QString& request) { received.append(request); });
        QVERIFY(watch);
        QCOMPARE(std::raise(SIGHUP), 0);
        QCOMPARE(std::raise(SIGTERM), 0);
        QTRY_COMPARE(received, QStringList{QStringLiteral("SIGTERM")});
        QTest::qWait(20);
        QCOMPARE(received, QStringList{QStringLiteral("SIGTERM")});
    }
    struct sigaction after = {};
    ::sigaction(SIGHUP, nullptr, &after);
    QVERIFY(after.sa_handler == SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
}

int main(int argc, char* argv[]) {
    // Whoever runs the tests (a shell's background job) may have told us to ignore some of the
    // signals; the cases here start from the defaults of a program started from the desktop.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, SIG_DFL);
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == QLatin1String(kRaiseStep))
        return raiseStep(arguments.mid(1));
    TestTerminationRequests test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_terminationrequests.moc"
