// kelvo-progress, the suite's progress program: its command line, the seven messages with their
// texts in atoms, the activation count, the window class by version, and ending by itself when
// its clients are gone; in this process and as the real program.

#include "TestEnvironment.h"
#include "cli/ProgressApp.h"
#include "platform/WindowBus.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgressAnimation.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStyle>
#include <QtTest>

using platform::windowBus;
using platform::WindowHandle;

namespace {

constexpr qint32 kOurVersion = 31000;

std::unique_ptr<platform::WindowRegistration> clientWindow() {
    return windowBus().registerWindow({QStringLiteral("TClient"), QStringLiteral("Client"), {}, nullptr});
}

// Sends a text message the way a client does: in an atom that lives only for the send.
qint64 sendText(WindowHandle window, const QString& message, const QString& text) {
    const quint32 atom = windowBus().globalAddAtom(text);
    qint64 result = -1;
    windowBus().sendMessageTimeout(window, windowBus().registerWindowMessage(message), 0, atom,
                                   kProgressMessageTimeoutMs, &result);
    windowBus().globalDeleteAtom(atom);
    return result;
}

qint64 send(WindowHandle window, const QString& message, qint64 wParam = 0) {
    return windowBus().sendMessage(window, windowBus().registerWindowMessage(message), wParam, 0);
}

QStringList logLines(const QString& file) {
    QFile log(file);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

} // namespace

class TestKelvoProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void windowClassFollowsTheVersion_data();
    void windowClassFollowsTheVersion();
    void textsArriveInAtoms();
    void activationsShowAndHide();
    void clientsKeepItRunning();
    void realProgram();
};

void TestKelvoProgress::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("status");
    QTest::addColumn<WindowHandle>("client");
    QTest::newRow("as a client starts it")
        << QStringList{QStringLiteral("CAPTION=Ansluter till databasen"), QStringLiteral("STYLE=fusion"),
                       QStringLiteral("STATUS=Ansluter till databasen, vänta..."),
                       QStringLiteral("CLIENTHWND=4711")}
        << QStringLiteral("Ansluter till databasen") << QStringLiteral("fusion")
        << QStringLiteral("Ansluter till databasen, vänta...") << 4711;
    QTest::newRow("quoted as on Windows, keys in any case")
        << QStringList{QStringLiteral("caption=\"Vänta\""), QStringLiteral("Status=\"Läser \"x\"\""),
                       QStringLiteral("clienthwnd=5")}
        << QStringLiteral("Vänta") << QString() << QStringLiteral("Läser \"x\"") << 5;
    QTest::newRow("empty values") << QStringList{QStringLiteral("CAPTION="), QStringLiteral("STYLE=")}
                                  << QString() << QString() << QString() << 0;
    QTest::newRow("no number, no client")
        << QStringList{QStringLiteral("CLIENTHWND=abc"), QStringLiteral("CLIENTHWND2=7")} << QString()
        << QString() << QString() << 0;
    QTest::newRow("a lone quote stays")
        << QStringList{QStringLiteral("CAPTION=\"")} << QStringLiteral("\"") << QString() << QString() << 0;
}

void TestKelvoProgress::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, caption);
    QFETCH(QString, style);
    QFETCH(QString, status);
    QFETCH(WindowHandle, client);
    const TProgressAppStart start = ParseProgressAppArguments(arguments);
    QCOMPARE(start.caption, caption);
    QCOMPARE(start.style, style);
    QCOMPARE(start.status, status);
    QCOMPARE(start.client, client);
}

void TestKelvoProgress::windowClassFollowsTheVersion_data() {
    QTest::addColumn<qint32>("version");
    QTest::addColumn<QString>("windowClass");
    QTest::newRow("4106") << 4106 << QStringLiteral("TProgressAppMessageWindow");
    QTest::newRow("4105") << 4105 << QStringLiteral("TProgressAppMainForm");
    QTest::newRow("ours") << kOurVersion << QStringLiteral("TProgressAppMessageWindow");
}

void TestKelvoProgress::windowClassFollowsTheVersion() {
    QFETCH(qint32, version);
    QFETCH(QString, windowClass);
    TestEnvironment env;
    TProgressApp progress({}, version);
    QVERIFY(progress.Register(nullptr));
    QCOMPARE(windowBus().findWindow(windowClass, QString()), progress.Handle());
}

void TestKelvoProgress::textsArriveInAtoms() {
    TestEnvironment env;
    const QString log = env.path(QStringLiteral("progress.log"));
    env.setVariable(kProgressLogVariable, log);
    TProgressApp progress({QStringLiteral("Start"), QString(), QStringLiteral("Startar"), 0}, kOurVersion);
    QVERIFY(progress.Register(nullptr));
    const WindowHandle window = progress.Handle();
    QCOMPARE(progress.Window()->windowTitle(), QStringLiteral("Start"));
    QCOMPARE(progress.Window()->StatusLabel->text(), QStringLiteral("Startar"));

    QCOMPARE(sendText(window, kMsgSetActiveCaption, QStringLiteral("Ansluter till databasen")), 1);
    QCOMPARE(sendText(window, kMsgSetActiveStatus, QStringLiteral("Ansluter till databasen,\rvänta...")), 1);
    QCOMPARE(progress.Window()->windowTitle(), QStringLiteral("Ansluter till databasen"));
    QCOMPARE(progress.Window()->StatusLabel->text(), QStringLiteral("Ansluter till databasen,\rvänta..."));
    // The bus entry carries the caption too.
    QCOMPARE(windowBus().findWindow(QString(), QStringLiteral("Ansluter till databasen")), window);

    // The client's visual style, when there is one of that name.
    QCOMPARE(sendText(window, kMsgSetActiveTema, QStringLiteral("Windows")), 1);
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("windows"));
    QCOMPARE(sendText(window, kMsgSetActiveTema, QStringLiteral("NoSuchStyle")), 1);
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("windows"));
    QApplication::setStyle(QStringLiteral("Fusion"));

    // An atom that is gone by the time the message is handled changes nothing.
    const quint32 gone = windowBus().globalAddAtom(QStringLiteral("Borta"));
    windowBus().globalDeleteAtom(gone);
    QCOMPARE(
        windowBus().sendMessage(window, windowBus().registerWindowMessage(kMsgSetActiveCaption), 0, gone), 0);
    QCOMPARE(progress.Window()->windowTitle(), QStringLiteral("Ansluter till databasen"));
    // A message that is none of its own is answered with 0.
    QCOMPARE(send(window, QStringLiteral("XRAY_NEW_IMAGE"), 5), 0);

    const QStringList lines = logLines(log);
    QVERIFY2(lines.first().startsWith(QStringLiteral("start pid=")), qPrintable(lines.first()));
    QVERIFY(lines.first().endsWith(
        QStringLiteral(" class=TProgressAppMessageWindow CAPTION=Start STYLE= STATUS=Startar CLIENTHWND=0")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("registered handle=")));
    QVERIFY(lines.at(2).startsWith(QStringLiteral("KELVO_SET_ACTIVE_CAPTION wParam=0 lParam=")));
    QVERIFY(lines.at(2).endsWith(QStringLiteral(" text=Ansluter till databasen")));
    QVERIFY(lines.at(3).endsWith(QStringLiteral(" text=Ansluter till databasen,\\rvänta...")));
    QVERIFY(lines.at(6).endsWith(QStringLiteral(" no text")));
    QVERIFY(lines.at(7).startsWith(QStringLiteral("XRAY_NEW_IMAGE wParam=5 lParam=0 ignored")));
}

void TestKelvoProgress::activationsShowAndHide() {
    TestEnvironment env;
    TProgressApp progress({}, kOurVersion);
    QVERIFY(progress.Register(nullptr));
    const WindowHandle window = progress.Handle();
    TfrmProgress* form = progress.Window();
    QVERIFY(!form->isVisible());
    QVERIFY(form->testAttribute(Qt::WA_ShowWithoutActivating));

    QCOMPARE(send(window, kMsgActivateProgressApp, 1001), 1);
    QCOMPARE(send(window, kMsgActivateProgressApp, 1001), 1);
    QVERIFY(form->isVisible());
    QVERIFY(form->Animation->Active());
    QCOMPARE(progress.Activations(), 2);
    QCOMPARE(send(window, kMsgInactivateProgressApp, 1001), 1);
    QVERIFY(form->isVisible());
    QCOMPARE(send(window, kMsgInactivateProgressApp, 1001), 1);
    QVERIFY(!form->isVisible());
    QVERIFY(!form->Animation->Active());
    QCOMPARE(send(window, kMsgInactivateProgressApp, 1001), 1);
    QCOMPARE(progress.Activations(), 0);

    // "Hide now" whatever the count.
    send(window, kMsgActivateProgressApp, 1001);
    send(window, kMsgActivateProgressApp, 1001);
    QCOMPARE(send(window, kMsgHideNowProgressApp, 1001), 1);
    QVERIFY(!form->isVisible());
    QCOMPARE(progress.Activations(), 0);
    // The user cannot close it.
    send(window, kMsgActivateProgressApp, 1001);
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
}

void TestKelvoProgress::clientsKeepItRunning() {
    TestEnvironment env;
    auto first = clientWindow();
    auto second = clientWindow();
    auto third = clientWindow();
    TProgressApp progress({QString(), QString(), QString(), first->handle()}, kOurVersion);
    QVERIFY(progress.Register(nullptr));
    QSignalSpy gone(&progress, &TProgressApp::clientsGone);
    // Every window a client names is one to wait for.
    send(progress.Handle(), kMsgSetActiveHwnd, second->handle());
    send(progress.Handle(), kMsgActivateProgressApp, third->handle());
    QCOMPARE(progress.Clients(), (QSet<WindowHandle>{first->handle(), second->handle(), third->handle()}));

    for (auto* client : {&first, &second}) {
        client->reset();
        progress.CheckClients();
        QCOMPARE(gone.count(), 0);
    }
    third.reset();
    progress.CheckClients();
    QCOMPARE(gone.count(), 1);
}

void TestKelvoProgress::realProgram() {
    TestEnvironment env;
    const QString log = env.path(QStringLiteral("progress.log"));
    env.setVariable(kProgressLogVariable, log);
    auto client = clientWindow();
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(programPath(kProgressAppFileName),
                  {QStringLiteral("CAPTION=Start"), QStringLiteral("STYLE=fusion"),
                   QStringLiteral("STATUS=Startar"), QStringLiteral("CLIENTHWND=%1").arg(client->handle())});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY(windowBus().findWindow(kProgressAppMessageWindowClass, QString()) != 0);
    const WindowHandle window = windowBus().findWindow(kProgressAppMessageWindowClass, QString());

    // Another process's atoms, read while the message is handled.
    QCOMPARE(sendText(window, kMsgSetActiveCaption, QStringLiteral("Ansluter till databasen")), 1);
    QCOMPARE(send(window, kMsgActivateProgressApp, client->handle()), 1);
    QVERIFY(logLines(log).contains(QStringLiteral("shown")));
    QCOMPARE(windowBus().findWindow(QString(), QStringLiteral("Ansluter till databasen")), window);

    // A second copy leaves the desktop to the first.
    QProcess second;
    second.start(programPath(kProgressAppFileName), {});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(windowBus().findWindow(kProgressAppMessageWindowClass, QString()), window);

    // Its client gone, it ends by itself.
    client.reset();
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(logLines(log).mid(logLines(log).size() - 2),
             (QStringList{QStringLiteral("clients gone"), QStringLiteral("end")}));
    QVERIFY(!windowBus().isWindow(window));
}

QTEST_MAIN(TestKelvoProgress)
#include "tst_kelvoprogress.moc"
