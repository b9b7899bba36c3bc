// The sample host of docs/host-protocol.md, run as a journal program's developer would run it:
// python3 docs/examples/host.py against the real ravlek and the simulated driver.

#include "E2eInstallation.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>

using namespace e2e;

namespace {

// Debian's own Python (scripts/install-deps installs it), the one a practice's computer has;
// an interpreter found elsewhere on the PATH may start through launchers of its own.
const QString kPython = QStringLiteral("/usr/bin/python3");

QString sourceFile(const QString& relative) {
    return QStringLiteral(RAVLEK_SOURCE_DIR) + QLatin1Char('/') + relative;
}

// The sample host with `arguments` for ravlek, started in the current directory (the
// installation); RAVLEK_PROGRAM names ravlek of the build unless `ravlek` says otherwise.
class SampleHost {
public:
    explicit SampleHost(const QStringList& arguments,
                        const QString& ravlek = programPath(QStringLiteral("ravlek"))) {
        QProcessEnvironment environment = programEnvironment();
        environment.insert(QStringLiteral("RAVLEK_PROGRAM"), ravlek);
        m_process.setProcessEnvironment(environment);
        m_process.setProgram(kPython);
        m_process.setArguments(QStringList{sourceFile(QStringLiteral("docs/examples/host.py"))} + arguments);
        m_process.start();
    }
    ~SampleHost() {
        if (m_process.state() != QProcess::NotRunning) {
            killProcessTree(m_process.processId());
            m_process.waitForFinished(5000);
        }
    }
    SampleHost(const SampleHost&) = delete;
    SampleHost& operator=(const SampleHost&) = delete;

    QProcess& process() { return m_process; }
    qint64 ravlekPid() const {
        const QList<qint64> children = childProcesses(m_process.processId());
        return children.isEmpty() ? 0 : children.first();
    }
    ProgramRun wait(int timeoutMs) {
        ProgramRun run;
        run.finished = m_process.waitForFinished(timeoutMs);
        if (run.finished && m_process.exitStatus() == QProcess::NormalExit)
            run.exitCode = m_process.exitCode();
        run.output = QString::fromUtf8(m_process.readAllStandardOutput());
        run.errors = QString::fromUtf8(m_process.readAllStandardError());
        return run;
    }

private:
    QProcess m_process;
};

QDir busFolder() {
    return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/kelvo-bus"));
}

// The entries and sockets left on the bus (the test's XDG_RUNTIME_DIR).
QStringList busEntries() {
    return busFolder().entryList({QStringLiteral("*.window"), QStringLiteral("*.sock")},
                                 QDir::Files | QDir::System);
}

// The entries on the bus of the process `pid`.
QStringList busEntriesOf(qint64 pid) {
    QStringList entries;
    for (const QString& name : busFolder().entryList({QStringLiteral("*.window")}, QDir::Files)) {
        const QJsonObject entry = QJsonDocument::fromJson(fileContent(busFolder().filePath(name))).object();
        if (entry.value(QStringLiteral("pid")).toInteger() == pid)
            entries.append(name);
    }
    return entries;
}

QStringList outputLines(const ProgramRun& run) {
    return run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestE2eSampleHost : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void pageHoldsTheSample();
    void session_data();
    void session();
    void ravlekMissing();
    void signalIsPassedOn();
};

void TestE2eSampleHost::initTestCase() {
    QVERIFY2(QFileInfo(kPython).isExecutable(), "python3 is missing (scripts/install-deps installs it)");
    QVERIFY(QFileInfo(programPath(QStringLiteral("ravlek"))).isExecutable());
}

// The page shows the sample verbatim, so that what a developer copies is what runs here.
void TestE2eSampleHost::pageHoldsTheSample() {
    const QString page = QString::fromUtf8(fileContent(sourceFile(QStringLiteral("docs/host-protocol.md"))));
    const QString sample =
        QString::fromUtf8(fileContent(sourceFile(QStringLiteral("docs/examples/host.py"))));
    QVERIFY(!sample.isEmpty());
    QVERIFY2(page.contains(QStringLiteral("```python\n") + sample + QStringLiteral("```\n")),
             "docs/host-protocol.md does not hold docs/examples/host.py unchanged");
}

void TestE2eSampleHost::session_data() {
    QTest::addColumn<QStringList>("arguments"); // "<xray>" stands for the destination folder
    QTest::addColumn<QStringList>("lines");     // what the host prints
    QTest::addColumn<QString>("image");         // relative to the destination folder, or empty

    const QString activation = QStringLiteral("activation request");
    const QString transferred = QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0");
    QTest::newRow("one image, one-shot")
        << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>/")}
        << QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=4711 lParam=0"), activation, transferred}
        << QStringLiteral("4711/Rtg4711_1.bmp");
    QTest::newRow("destination folder missing")
        << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>/nowhere/")}
        << QStringList{activation, transferred} << QString();
    QTest::newRow("patient number without digits")
        << QStringList{QStringLiteral("PNR=abc"), QStringLiteral("OUTDIR=<xray>/")} << QStringList{activation}
        << QString();
}

// What docs/host-protocol.md says a host receives, and that the host leaves the bus clean.
void TestE2eSampleHost::session() {
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, lines);
    QFETCH(QString, image);

    TestEnvironment env;
    const QString xray = env.makeFolder(QStringLiteral("xray"));
    QCOMPARE(configureCaptureStation(QStringLiteral("¤8¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("stage"), QStringLiteral("8"), QStringLiteral("50")}), QString());
    QCOMPARE(simulator({QStringLiteral("delay"), QStringLiteral("8"), QStringLiteral("300")}), QString());
    arguments.replaceInStrings(QStringLiteral("<xray>"), xray);

    SampleHost host(arguments);
    const ProgramRun run = host.wait(60000);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(outputLines(run), lines);
    if (!image.isEmpty())
        QVERIFY2(QFileInfo::exists(xray + QLatin1Char('/') + image), qPrintable(run.describe()));
    // The progress program that the database connect started ends by itself shortly after
    // its client has gone.
    QTRY_COMPARE_WITH_TIMEOUT(busEntries(), QStringList(), 10000);
}

void TestE2eSampleHost::ravlekMissing() {
    TestEnvironment env;
    SampleHost host({QStringLiteral("PNR=4711")}, env.path(QStringLiteral("no-such-ravlek")));
    const ProgramRun run = host.wait(30000);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.errors.contains(QStringLiteral("cannot start")), qPrintable(run.describe()));
    QCOMPARE(busEntries(), QStringList());
}

// Ended by a signal while ravlek waits for an image, the host passes it on, waits for ravlek
// and removes its entry.
void TestE2eSampleHost::signalIsPassedOn() {
    TestEnvironment env;
    const QString xray = env.makeFolder(QStringLiteral("xray"));
    QCOMPARE(configureCaptureStation(QStringLiteral("¤8¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("list")}), QString());
    const std::optional<SimDeviceFolder> device = simulatedDevice(QStringLiteral("8"));
    QVERIFY(device);

    SampleHost host({QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=") + xray + QLatin1Char('/')});
    qint64 ravlek = 0;
    const QDeadlineTimer started(60000);
    while (!(ravlek != 0 && device->openedBy() == ravlek) && !started.hasExpired()) {
        QTest::qWait(50);
        ravlek = host.ravlekPid();
    }
    QVERIFY2(
        ravlek != 0 && device->openedBy() == ravlek,
        qPrintable(QStringLiteral("ravlek pid %1, device opened by %2").arg(ravlek).arg(device->openedBy())));
    const qint64 hostPid = host.process().processId();
    QCOMPARE(busEntriesOf(hostPid).size(), 1);
    ::kill(static_cast<pid_t>(hostPid), SIGTERM);

    const ProgramRun run = host.wait(30000);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    // ravlek closes as by its Close button: its last message is the closing notice, and it
    // ends with exit code 0, which the host passes on.
    QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
    const QStringList lines = outputLines(run);
    QCOMPARE(lines.isEmpty() ? QString() : lines.last(),
             QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0"));
    QVERIFY2(::kill(static_cast<pid_t>(ravlek), 0) != 0, "ravlek still runs");
    QCOMPARE(busEntriesOf(hostPid), QStringList());
}

QTEST_GUILESS_MAIN(TestE2eSampleHost)
#include "tst_e2e_samplehost.moc"
