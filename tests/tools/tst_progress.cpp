// The client side of the progress display: finding the progress program, its version and
// window class, the messages with their texts, counting activations, the two-second launch
// guard, and the program's own window when no progress program is there.

#include "ElfFixture.h"
#include "TestEnvironment.h"
#include "platform/WindowBus.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoProgress.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStyle>
#include <QtTest>

#include <memory>

using platform::windowBus;
using platform::WindowHandle;

namespace {

const QString kCaption = QStringLiteral("Ansluter till databasen");
const QString kStatus = QStringLiteral("Ansluter till databasen, vänta...");
constexpr WindowHandle kApplicationWindow = 111;
constexpr WindowHandle kMainWindow = 222;

// One message as the progress program's window received it; a text message's text is read
// from its atom while the message is handled, as the real program must.
struct Received {
    QString name;
    qint64 wParam = 0;
    qint64 lParam = 0;
    std::optional<QString> text;
};

// A progress program's window, registered by the test itself.
class FakeProgressWindow {
public:
    explicit FakeProgressWindow(const QString& className, std::function<void(const Received&)> onReceive = {})
        : m_onReceive(std::move(onReceive)) {
        m_registration = windowBus().registerWindow(
            {className, QStringLiteral("Progress"),
             [this](quint32 msg, qint64 wParam, qint64 lParam) {
                 Received message{windowBus().messageName(msg), wParam, lParam, std::nullopt};
                 if (message.name.endsWith(QStringLiteral("TEMA")) ||
                     message.name.endsWith(QStringLiteral("CAPTION")) ||
                     message.name.endsWith(QStringLiteral("STATUS")))
                     message.text = windowBus().globalGetAtomName(quint32(lParam));
                 received.append(message);
                 if (m_onReceive)
                     m_onReceive(message);
                 return 1;
             },
             nullptr});
    }

    QStringList names() const {
        QStringList list;
        for (const Received& message : received)
            list.append(message.name);
        return list;
    }

    QList<Received> received;

private:
    std::function<void(const Received&)> m_onReceive;
    std::unique_ptr<platform::WindowRegistration> m_registration;
};

QString styleName() {
    return QApplication::style()->name();
}

} // namespace

class TestProgress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void messagesGoToTheWindowOfTheVersion_data();
    void messagesGoToTheWindowOfTheVersion();
    void releasesCountActivations();
    void versionIsReadOnceUnlessForced();
    void nestedStartProgressReturnsAtOnce();
    void onlyIfKnownWaitsForTheProgramToBeFound();
    void environmentSetUpForgetsTheProgram();
    void clientWindow();
    void applicationHandleArgument_data();
    void applicationHandleArgument();
    void launchesAtMostOnceInTwoSeconds();
    void launchedProgramIsDriven();

private:
    // The progress program's file in the suite's data folder.
    QString installProgram(const QByteArray& content, bool executable);
    QString installVersionedProgram(const QString& fileVersion);

    std::unique_ptr<TestEnvironment> m_env;
};

void TestProgress::init() {
    m_env = std::make_unique<TestEnvironment>();
    InitApplicationEnvironment({QStringLiteral("tst_progress")});
    QVERIFY(!Environment().SuiteDataPath.isEmpty());
    ResetProgressState();
    SetProgressApplicationWindow(kApplicationWindow);
    SetProgressMainWindow(kMainWindow);
}

void TestProgress::cleanup() {
    ResetProgressState();
    m_env.reset();
}

QString TestProgress::installProgram(const QByteArray& content, bool executable) {
    const QString path = Environment().SuiteDataPath + kProgressAppFileName;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}

QString TestProgress::installVersionedProgram(const QString& fileVersion) {
    elftest::ElfFile file;
    file.notes = {elftest::packageNote({{QStringLiteral("FileVersion"), fileVersion}})};
    return installProgram(file.build(), false);
}

void TestProgress::messagesGoToTheWindowOfTheVersion_data() {
    QTest::addColumn<QString>("fileVersion"); // empty: a file without version information
    QTest::addColumn<qint32>("version");
    QTest::addColumn<bool>("toMessageWindow");
    QTest::newRow("4.1.0.6") << QStringLiteral("4.1.0.6") << 4106 << true;
    QTest::newRow("4.1.0.5") << QStringLiteral("4.1.0.5") << 4105 << false;
    QTest::newRow("no version information") << QString() << 0 << false;
}

void TestProgress::messagesGoToTheWindowOfTheVersion() {
    QFETCH(QString, fileVersion);
    QFETCH(qint32, version);
    QFETCH(bool, toMessageWindow);
    const QString program =
        fileVersion.isEmpty() ? installProgram("#!/bin/sh\n", false) : installVersionedProgram(fileVersion);
    FakeProgressWindow messageWindow(kProgressAppMessageWindowClass);
    FakeProgressWindow mainForm(kProgressAppMainFormClass);

    StartProgress(kCaption, kStatus);

    QCOMPARE(ProgressAppPath(), program);
    QCOMPARE(ProgressAppVersion(), version);
    FakeProgressWindow& chosen = toMessageWindow ? messageWindow : mainForm;
    FakeProgressWindow& other = toMessageWindow ? mainForm : messageWindow;
    QCOMPARE(other.received.size(), 0);
    QCOMPARE(chosen.names(), (QStringList{kMsgSetActiveTema, kMsgSetActiveCaption, kMsgSetActiveStatus,
                                          kMsgSetActiveHwnd, kMsgActivateProgressApp}));
    QCOMPARE(chosen.received.at(0).text.value_or(QStringLiteral("<no atom>")), styleName());
    QCOMPARE(chosen.received.at(1).text.value_or(QStringLiteral("<no atom>")), kCaption);
    QCOMPARE(chosen.received.at(2).text.value_or(QStringLiteral("<no atom>")), kStatus);
    QCOMPARE(chosen.received.at(3).wParam, qint64(kMainWindow));
    QCOMPARE(chosen.received.at(4).wParam, qint64(kApplicationWindow));
    // The atoms lived only for their sends.
    for (const Received& message : chosen.received.mid(0, 3))
        QVERIFY(!windowBus().globalGetAtomName(quint32(message.lParam)));
    QCOMPARE(ProgressActivations(), 1);
    // The progress program shows it, so the program's own window stays away.
    QVERIFY(!ProgressWindow());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    EndProgress(false);
    QCOMPARE(chosen.names().mid(5), (QStringList{kMsgInactivateProgressApp, kMsgHideNowProgressApp}));
    QVERIFY(!QApplication::overrideCursor());
}

void TestProgress::releasesCountActivations() {
    installVersionedProgram(QStringLiteral("4.1.0.6"));
    FakeProgressWindow window(kProgressAppMessageWindowClass);
    const auto releasesAfter = [&window](bool force) {
        const qsizetype before = window.received.size();
        EndProgress(force);
        QStringList names = window.names().mid(before);
        for (const Received& message : window.received.mid(before))
            if (message.wParam != kApplicationWindow)
                names.append(QStringLiteral("wParam %1").arg(message.wParam));
        return names;
    };
    const QStringList inactivate{kMsgInactivateProgressApp};
    const QStringList both{kMsgInactivateProgressApp, kMsgHideNowProgressApp};

    StartProgress(kCaption, kStatus);
    StartProgress(QStringLiteral("Läser"), QStringLiteral("Läser registret..."));
    QCOMPARE(ProgressActivations(), 2);
    QCOMPARE(releasesAfter(false), inactivate);
    QCOMPARE(ProgressActivations(), 1);
    QCOMPARE(releasesAfter(false), both);
    QCOMPARE(ProgressActivations(), 0);
    QCOMPARE(releasesAfter(false), both); // the count stays at 0
    QCOMPARE(ProgressActivations(), 0);

    // A message box takes the display down whatever the count.
    StartProgress(kCaption, kStatus);
    StartProgress(kCaption, kStatus);
    QCOMPARE(releasesAfter(true), both);
    QCOMPARE(ProgressActivations(), 1);
}

void TestProgress::versionIsReadOnceUnlessForced() {
    installVersionedProgram(QStringLiteral("4.1.0.5"));
    FakeProgressWindow mainForm(kProgressAppMainFormClass);
    StartProgress(kCaption, kStatus);
    EndProgress(false);
    QCOMPARE(ProgressAppVersion(), 4105);

    // A newer program put in place while this one runs is seen only when asked for.
    installVersionedProgram(QStringLiteral("4.1.0.6"));
    ReadProgressAppVersion(false);
    QCOMPARE(ProgressAppVersion(), 4105);
    ReadProgressAppVersion(true);
    QCOMPARE(ProgressAppVersion(), 4106);
}

void TestProgress::nestedStartProgressReturnsAtOnce() {
    installVersionedProgram(QStringLiteral("4.1.0.6"));
    FakeProgressWindow window(kProgressAppMessageWindowClass, [](const Received& message) {
        // Whatever runs while a message is handled may ask for the display again.
        if (message.name == kMsgSetActiveCaption)
            StartProgress(QStringLiteral("Nested"), QStringLiteral("Nested"));
    });
    StartProgress(kCaption, kStatus);
    QCOMPARE(window.received.size(), 5);
    QCOMPARE(ProgressActivations(), 1);
}

void TestProgress::onlyIfKnownWaitsForTheProgramToBeFound() {
    // Nothing installed: nothing at all, not even the program's own window.
    StartProgress(kCaption, kStatus, true);
    QVERIFY(!ProgressWindow());
    QVERIFY(!QApplication::overrideCursor());

    // Installed but not yet looked for: still nothing.
    installVersionedProgram(QStringLiteral("4.1.0.6"));
    FakeProgressWindow window(kProgressAppMessageWindowClass);
    StartProgress(kCaption, kStatus, true);
    QCOMPARE(window.received.size(), 0);

    // Once found, it is used.
    StartProgress(kCaption, kStatus);
    EndProgress(false);
    const qsizetype before = window.received.size();
    StartProgress(kCaption, kStatus, true);
    QCOMPARE(window.received.size(), before + 5);
}

void TestProgress::environmentSetUpForgetsTheProgram() {
    const QString program = installVersionedProgram(QStringLiteral("4.1.0.6"));
    FakeProgressWindow window(kProgressAppMessageWindowClass);
    StartProgress(kCaption, kStatus);
    EndProgress(false);
    QCOMPARE(ProgressAppPath(), program);

    QFile::remove(program);
    InitApplicationEnvironment({QStringLiteral("tst_progress")});
    QCOMPARE(ProgressAppPath(), QString());
    // Gone from both places: the suite's folder is remembered, and the program's own window
    // shows the texts.
    StartProgress(kCaption, kStatus);
    QCOMPARE(ProgressAppPath(), program);
    QVERIFY(ProgressWindow());
    QCOMPARE(ProgressWindow()->windowTitle(), kCaption);
    QCOMPARE(ProgressWindow()->StatusLabel->text(), kStatus);
    EndProgress(false);
    QVERIFY(!ProgressWindow());
}

void TestProgress::clientWindow() {
    // The main window when there is one, else the application's window; kept for the run.
    ResetProgressState();
    SetProgressApplicationWindow(kApplicationWindow);
    QCOMPARE(ProgressClientWindow(), kApplicationWindow);
    SetProgressMainWindow(kMainWindow);
    QCOMPARE(ProgressClientWindow(), kApplicationWindow);

    ResetProgressState();
    SetProgressApplicationWindow(kApplicationWindow);
    SetProgressMainWindow(kMainWindow);
    QCOMPARE(ProgressClientWindow(), kMainWindow);
}

void TestProgress::applicationHandleArgument_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<WindowHandle>("handle");
    QTest::newRow("none") << QStringList{QStringLiteral("ravlek"), QStringLiteral("PNR=1")} << 0;
    QTest::newRow("capitals") << QStringList{QStringLiteral("APPLICATIONHANDLE=4711")} << 4711;
    QTest::newRow("lower case") << QStringList{QStringLiteral("applicationhandle=4711")} << 4711;
    QTest::newRow("the last counts") << QStringList{QStringLiteral("APPLICATIONHANDLE=1"),
                                                    QStringLiteral("PNR=5"),
                                                    QStringLiteral("ApplicationHandle=2")}
                                     << 2;
    QTest::newRow("the last counts, also when it is no number")
        << QStringList{QStringLiteral("APPLICATIONHANDLE=1"), QStringLiteral("APPLICATIONHANDLE=x")} << 0;
    QTest::newRow("no number") << QStringList{QStringLiteral("APPLICATIONHANDLE=12ab")} << 0;
    QTest::newRow("empty") << QStringList{QStringLiteral("APPLICATIONHANDLE=")} << 0;
    QTest::newRow("beyond 32 bits") << QStringList{QStringLiteral("APPLICATIONHANDLE=4294967296")} << 0;
    QTest::newRow("not a handle") << QStringList{QStringLiteral("APPLICATIONHANDLE=-5")} << 0;
    QTest::newRow("the key inside another argument")
        << QStringList{QStringLiteral("XAPPLICATIONHANDLE=7"), QStringLiteral("PNR=APPLICATIONHANDLE=8")}
        << 0;
}

void TestProgress::applicationHandleArgument() {
    QFETCH(QStringList, arguments);
    QFETCH(WindowHandle, handle);
    QCOMPARE(ApplicationHandleArgument(arguments), handle);
}

void TestProgress::launchesAtMostOnceInTwoSeconds() {
    // A progress program that records how it was started and ends without showing a window.
    const QString starts = m_env->path(QStringLiteral("starts"));
    installProgram(
        QStringLiteral("#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; echo ---; } >> '%1'\n").arg(starts).toUtf8(),
        true);
    const auto launches = [&starts] {
        QFile file(starts);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).count(QStringLiteral("---\n"))
                   : 0;
    };

    StartProgress(kCaption, kStatus);
    QTRY_COMPARE(launches(), 1);
    QVERIFY(StartProgressAppTimerEnabled());
    // No window came: the program's own window shows that the program is busy.
    QVERIFY(ProgressWindow());
    QCOMPARE(ProgressWindow()->windowTitle(), kCaption);
    QFile file(starts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')),
        (QStringList{QDir::currentPath(), kProgressCaptionKey + kCaption, kProgressStyleKey + styleName(),
                     kProgressStatusKey + kStatus, kProgressClientKey + QString::number(kMainWindow),
                     QStringLiteral("---"), QString()}));

    // Within the two seconds another request launches nothing and changes nothing.
    StartProgress(QStringLiteral("Läser"), QStringLiteral("Läser registret..."));
    QCOMPARE(ProgressWindow()->windowTitle(), kCaption);
    QTest::qWait(300);
    QCOMPARE(launches(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(!StartProgressAppTimerEnabled(), 3000);
    StartProgress(kCaption, kStatus);
    QTRY_COMPARE(launches(), 2);
    EndProgress(false);
}

void TestProgress::launchedProgramIsDriven() {
    // The real progress program, in the suite's data folder, for a client window of the test.
    QFile original(programPath(kProgressAppFileName));
    QVERIFY(original.open(QIODevice::ReadOnly));
    installProgram(original.readAll(), true);
    const QString log = m_env->path(QStringLiteral("progress.log"));
    m_env->setVariable("KELVO_PROGRESS_LOG", log);
    auto client =
        windowBus().registerWindow({QStringLiteral("TClient"), QStringLiteral("Client"), {}, nullptr});
    QVERIFY(client);
    ResetProgressState();
    SetProgressMainWindow(client->handle());
    const auto logLines = [&log] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))
                                              : QStringList();
    };

    StartProgress(kCaption, kStatus);
    // StartProgress waited for the program's window and drove it at once.
    QVERIFY(!ProgressWindow());
    QCOMPARE(ProgressActivations(), 1);
    QVERIFY(logLines().contains(QStringLiteral("shown")));
    const QStringList captions = logLines().filter(QStringLiteral("KELVO_SET_ACTIVE_CAPTION "));
    QCOMPARE(captions.size(), 1);
    QVERIFY2(captions.first().endsWith(QStringLiteral(" text=") + kCaption), qPrintable(captions.first()));
    EndProgress(false);
    QVERIFY(logLines().contains(QStringLiteral("hidden")));

    // Its client gone, it ends by itself.
    client.reset();
    QTRY_VERIFY_WITH_TIMEOUT(logLines().contains(QStringLiteral("end")), 10000);
    QCOMPARE(windowBus().findWindow(kProgressAppMessageWindowClass, QString()), 0);
}

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
