// The progress display end to end, while ravlek's connect to an unreachable database blocks its
// GUI thread for the whole connect time-out: once with the real kelvo-progress beside ravlek,
// which ravlek starts, drives and takes down, and which ends by itself afterwards; once with
// ravlek alone, on an X server of the test's own with a private session bus, where its own
// window is seen from outside to be shown, painted, animated and counting, and the taskbar
// progress to move, all while the GUI thread is blocked.

#include "DesktopSession.h"
#include "E2eInstallation.h"
#include "cli/ProgressApp.h"
#include "database/DataLinkFile.h"
#include "platform/LauncherEntryTaskbar.h"
#include "platform/Processes.h"
#include "platform/WindowBus.h"
#include "tools/KelvoProgress.h"

#include <QDBusConnection>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QtTest>

using namespace e2e;
using platform::windowBus;
using platform::WindowHandle;

namespace {

const QString kCaption = QStringLiteral("Ansluter till databasen");
const QString kStatus = QStringLiteral("Ansluter till databasen, vänta...");
// A message nobody handles: a window whose thread is free answers it at once.
const QString kPing = QStringLiteral("RAVLEK_E2E_PING");
constexpr int kPingTimeoutMs = 300;
// The connect time-out (15 s) and the start, with room for a slow machine.
constexpr int kRavlekTimeoutMs = 90000;

// A database server that takes the connection and never answers, so that a connect waits for
// its whole time-out, as one to an unreachable server does.
class SilentServer {
public:
    SilentServer() { m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

// The data-link file of the unreachable practice database, in the current directory.
QString unreachableDataLink(const SilentServer& server) {
    const QString file = QDir::current().filePath(QStringLiteral("Unreachable.udl"));
    WriteDataLinkFile(file, QStringLiteral("Provider=PostgreSQL;Password=secret;Persist Security Info=True;"
                                           "User ID=ravlek;Initial Catalog=practice;Data Source=127.0.0.1:%1")
                                .arg(server.port()));
    return QFileInfo(file).fileName();
}

// A window of ravlek's process on the bus.
WindowHandle windowOf(qint64 pid, const QString& className) {
    for (const platform::WindowInfo& window : windowBus().enumWindows())
        if (window.processId == pid && window.className == className)
            return window.handle;
    return 0;
}

bool answers(WindowHandle window) {
    return windowBus().sendMessageTimeout(window, windowBus().registerWindowMessage(kPing), 0, 0,
                                          kPingTimeoutMs);
}

QStringList logLines(const QString& file) {
    QFile log(file);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

// The log with the numbers that change from run to run put in words.
QStringList normalised(QStringList lines, WindowHandle client, WindowHandle application) {
    for (QString& line : lines) {
        line.replace(QRegularExpression(QStringLiteral("pid=\\d+")), QStringLiteral("pid=<pid>"));
        line.replace(QRegularExpression(QStringLiteral("handle=\\d+")), QStringLiteral("handle=<handle>"));
        line.replace(QRegularExpression(QStringLiteral("lParam=[1-9]\\d*")), QStringLiteral("lParam=<atom>"));
        line.replace(QString::number(client), QStringLiteral("<client>"));
        line.replace(QString::number(application), QStringLiteral("<application>"));
    }
    return lines;
}

// The launcher-entry signals on the private session bus.
class LauncherEntryListener : public QObject {
    Q_OBJECT
public:
    struct Update {
        qint64 atMs;
        QString uri;
        QVariantMap properties;
    };

    explicit LauncherEntryListener(QDBusConnection bus)
        : m_bus(std::move(bus)) {
        m_clock.start();
        m_listening = m_bus.connect(QString(), QString(), platform::LauncherEntryTaskbar::kInterface,
                                    QStringLiteral("Update"), this, SLOT(update(QString, QVariantMap)));
    }
    bool listening() const { return m_listening; }
    qint64 now() const { return m_clock.elapsed(); }
    QList<Update> updates;

public Q_SLOTS:
    void update(const QString& uri, const QVariantMap& properties) {
        updates.append({m_clock.elapsed(), uri, properties});
    }

private:
    QDBusConnection m_bus;
    QElapsedTimer m_clock;
    bool m_listening = false;
};

} // namespace

class TestE2eProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void withTheProgressProgram_data();
    void withTheProgressProgram();
    void withoutTheProgressProgram();
};

void TestE2eProgress::initTestCase() {
    for (const QString& program : {QStringLiteral("ravlek"), kProgressAppFileName})
        QVERIFY2(QFileInfo(programPath(program)).isExecutable(), qPrintable(programPath(program)));
}

void TestE2eProgress::withTheProgressProgram_data() {
    QTest::addColumn<bool>("journalNamesTheClient");
    QTest::newRow("for ravlek's main window") << false;
    QTest::newRow("for the window named by applicationhandle=") << true;
}

void TestE2eProgress::withTheProgressProgram() {
    QFETCH(bool, journalNamesTheClient);
    TestEnvironment env;
    SilentServer server;
    const QString log = env.path(QStringLiteral("progress.log"));
    QProcessEnvironment environment = programEnvironment();
    environment.insert(QString::fromLatin1(kProgressLogVariable), log);
    // The journal program's window, when it asks for the progress to be shown on its behalf.
    std::unique_ptr<platform::WindowRegistration> journal;
    QStringList arguments{unreachableDataLink(server), QStringLiteral("PNR=4711")};
    if (journalNamesTheClient) {
        journal =
            windowBus().registerWindow({QStringLiteral("TJournal"), QStringLiteral("Journal"), {}, nullptr});
        QVERIFY(journal);
        arguments << QStringLiteral("applicationhandle=%1").arg(journal->handle());
    }

    // No OUTDIR: ravlek connects, then closes at its first activation.
    RunningProgram ravlek(QStringLiteral("ravlek"), arguments, environment);
    QTRY_VERIFY_WITH_TIMEOUT(logLines(log).contains(QStringLiteral("shown")), 30000);
    const WindowHandle mainWindow = windowOf(ravlek.pid(), QStringLiteral("TRavlekMainForm"));
    const WindowHandle application = windowOf(ravlek.pid(), QStringLiteral("TApplication"));
    const WindowHandle progressWindow = windowBus().findWindow(kProgressAppMessageWindowClass, QString());
    QVERIFY(mainWindow != 0 && application != 0 && progressWindow != 0);
    const qint64 progressPid = logLines(log).first().section(QLatin1Char(' '), 1, 1).mid(4).toLongLong();
    QVERIFY(platform::processRunning(progressPid));
    // ravlek is blocked in the connect, while the progress program answers at once.
    QVERIFY2(!answers(mainWindow), "ravlek's GUI thread is not blocked");
    QVERIFY(answers(progressWindow));

    const ProgramRun run = ravlek.wait(kRavlekTimeoutMs);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.describe()));
    QVERIFY2(run.errors.contains(QStringLiteral("Det gick inte att ansluta till databasen 127.0.0.1:")),
             qPrintable(run.errors));

    const WindowHandle client = journalNamesTheClient ? journal->handle() : mainWindow;
    const QStringList expected{
        QStringLiteral("start pid=<pid> class=TProgressAppMessageWindow CAPTION=%1 STYLE=fusion STATUS=%2 "
                       "CLIENTHWND=<client>")
            .arg(kCaption, kStatus),
        QStringLiteral("registered handle=<handle>"),
        QStringLiteral("KELVO_SET_ACTIVE_TEMA wParam=0 lParam=<atom> text=fusion"),
        QStringLiteral("KELVO_SET_ACTIVE_CAPTION wParam=0 lParam=<atom> text=") + kCaption,
        QStringLiteral("KELVO_SET_ACTIVE_STATUS wParam=0 lParam=<atom> text=") + kStatus,
        QStringLiteral("KELVO_SET_ACTIVE_HWND wParam=<client> lParam=0"),
        QStringLiteral("KELVO_ACTIVATE_PROGRESSAPP wParam=<application> lParam=0 activations=1"),
        QStringLiteral("shown"),
        QStringLiteral("RAVLEK_E2E_PING wParam=0 lParam=0 ignored"),
        QStringLiteral("KELVO_INACTIVATE_PROGRESSAPP wParam=<application> lParam=0 activations=0"),
        QStringLiteral("hidden"),
        QStringLiteral("KELVO_HIDENOW_PROGRESSAPP wParam=<application> lParam=0 activations=0"),
    };
    QCOMPARE(normalised(logLines(log), client, application).mid(0, expected.size()), expected);

    // It ends by itself once its clients' windows are gone.
    if (journal) {
        QTest::qWait(2500);
        QVERIFY2(platform::processRunning(progressPid), "ended while the journal's window was still there");
        journal.reset();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!platform::processRunning(progressPid), 15000);
    QCOMPARE(logLines(log).mid(logLines(log).size() - 2),
             (QStringList{QStringLiteral("clients gone"), QStringLiteral("end")}));
    QCOMPARE(windowBus().findWindow(kProgressAppMessageWindowClass, QString()), 0);
}

void TestE2eProgress::withoutTheProgressProgram() {
    TestEnvironment env;
    XvfbServer xvfb;
    QCOMPARE(xvfb.start(), QString());
    SessionBus sessionBus;
    QCOMPARE(sessionBus.start(), QString());
    LauncherEntryListener taskbar(QDBusConnection::connectToBus(sessionBus.address(), QStringLiteral("e2e")));
    QVERIFY(taskbar.listening());
    // ravlek alone in a folder: no progress program beside it, none in the suite's folder.
    const QString alone = env.makeFolder(QStringLiteral("alone")) + QStringLiteral("/ravlek");
    QVERIFY(QFile::copy(programPath(QStringLiteral("ravlek")), alone));
    SilentServer server;
    QProcessEnvironment environment = programEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), xvfb.display());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), sessionBus.address());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));

    RunningProgram ravlek(alone, {unreachableDataLink(server), QStringLiteral("PNR=4711")}, environment);
    XWindowObserver screen(xvfb.display());
    QVERIFY(screen.connected());
    quint32 window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = screen.findWindow(kCaption)) != 0, 30000);
    const WindowHandle mainWindow = windowOf(ravlek.pid(), QStringLiteral("TRavlekMainForm"));
    QVERIFY(mainWindow != 0);

    // The window is painted before the connect begins; once it has begun, the GUI thread answers
    // nothing until it ends.
    QTRY_VERIFY_WITH_TIMEOUT(!answers(mainWindow), 10000);

    // Watched from outside for a while: the GUI thread stays blocked all along, yet the window
    // counts, animates and keeps its painted status line, and the taskbar progress moves.
    const qint64 watchStart = taskbar.now();
    QSet<QString> titles;
    QSet<size_t> pictures;
    QImage picture;
    for (int look = 0; look < 6; ++look) {
        QVERIFY2(!answers(mainWindow), "ravlek's GUI thread is not blocked");
        titles.insert(screen.title(window));
        picture = screen.grab(window);
        QVERIFY(!picture.isNull());
        pictures.insert(qHashBits(picture.constBits(), size_t(picture.sizeInBytes())));
        QTest::qWait(200);
    }
    const qint64 watchEnd = taskbar.now();
    const QRegularExpression elapsed(QStringLiteral("^Ansluter till databasen - \\d+(\\.\\d)?s$"));
    titles.removeIf([&elapsed](const QString& title) { return !elapsed.match(title).hasMatch(); });
    QVERIFY2(titles.size() >= 2, qPrintable(QStringList(titles.values()).join(QStringLiteral(", "))));
    QVERIFY2(pictures.size() >= 2, "the animation does not move");
    // The status line is painted: the upper part of the window holds more than its background.
    QSet<QRgb> colours;
    for (int y = 10; y < picture.height() / 2; ++y)
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    QVERIFY2(colours.size() > 4, "the status line is not painted");
    const auto moving =
        std::count_if(taskbar.updates.cbegin(), taskbar.updates.cend(), [&](const auto& update) {
            return update.atMs >= watchStart && update.atMs <= watchEnd &&
                   update.properties.value(QStringLiteral("progress")).toDouble() > 0;
        });
    QVERIFY2(moving >= 2, qPrintable(QString::number(moving)));
    QCOMPARE(taskbar.updates.first().uri, QStringLiteral("application://se.kelvo.Ravlek.desktop"));
    QCOMPARE(taskbar.updates.first().properties.value(QStringLiteral("progress-visible")), QVariant(true));

    // When the connect gives up, the window goes and the taskbar progress with it.
    QTRY_VERIFY_WITH_TIMEOUT(!screen.isViewable(window), kRavlekTimeoutMs);
    QTRY_VERIFY(!taskbar.updates.last().properties.value(QStringLiteral("progress-visible")).toBool());
}

QTEST_MAIN(TestE2eProgress)
#include "tst_e2e_progress.moc"
