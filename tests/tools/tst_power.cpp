#include "database/KelvoDatabase.h"
#include "platform/LogindPowerEvents.h"
#include "platform/PowerEvents.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoPowerHandler.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using platform::DialogButton;
using platform::DialogKind;

namespace {

QString reconnectedText(int count) {
    return QStringLiteral("Programmet har återanslutit %1 anslutningar till databasen. "
                          "Kontrollera att ingen data förlorats.")
        .arg(count);
}

// A resume that neither waits nor ends the test program; it records a termination request.
struct TestResume {
    std::optional<int> exitCode;
    TResumeOptions options() {
        return {std::chrono::milliseconds(0), [this](int code) { exitCode = code; }};
    }
};

} // namespace

class TestPower : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void suspendClosesOpenConnections();
    void resumeWithoutConnections();
    void resumeReconnectsMarked();
    void markStaysForLaterResumes();
    void failedReconnect_data();
    void failedReconnect();
    void registrationOrderAndLifetime();
    void powerHandlerHearsPowerPort();
    void logindWithoutBusEmitsNothing();
    void logindSignalsBecomeEvents();

private:
    TADOConnection* makeConnection(const QString& name, const QString& file);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<QObject> m_owner;
};

void TestPower::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_owner = std::make_unique<QObject>();
    m_owner->setObjectName(QStringLiteral("frmSettings"));
}

void TestPower::cleanup() {
    m_owner.reset();
    m_env.reset();
}

TADOConnection* TestPower::makeConnection(const QString& name, const QString& file) {
    auto* connection = new TADOConnection(m_owner.get());
    connection->SetName(name);
    connection->SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + file);
    return connection;
}

void TestPower::suspendClosesOpenConnections() {
    TADOConnection* open = makeConnection(QStringLiteral("A"), m_env->path(QStringLiteral("a.db")));
    TADOConnection* closed = makeConnection(QStringLiteral("B"), m_env->path(QStringLiteral("b.db")));
    open->Open();
    HandleSuspend({open, closed});
    QVERIFY(!open->Connected());
    QCOMPARE(open->Tag(), kSuspendedConnectionTag);
    QCOMPARE(closed->Tag(), 0);
}

void TestPower::resumeWithoutConnections() {
    TADOConnection* closed = makeConnection(QStringLiteral("B"), m_env->path(QStringLiteral("b.db")));
    HandleSuspend({closed});
    ScriptedDialogs dialogs;
    dialogs.expectExactly(DialogKind::Information, reconnectedText(0));
    TestResume resume;
    HandleResume({closed}, resume.options());
    QVERIFY(!closed->Connected());
    QVERIFY(!resume.exitCode);
}

void TestPower::resumeReconnectsMarked() {
    TADOConnection* first = makeConnection(QStringLiteral("A"), m_env->path(QStringLiteral("a.db")));
    TADOConnection* second = makeConnection(QStringLiteral("B"), m_env->path(QStringLiteral("b.db")));
    TADOConnection* neverOpen = makeConnection(QStringLiteral("C"), m_env->path(QStringLiteral("c.db")));
    first->Open();
    second->Open();
    HandleSuspend({first, second, neverOpen});
    ScriptedDialogs dialogs;
    dialogs.expectExactly(DialogKind::Information, reconnectedText(2));
    TestResume resume;
    HandleResume({first, second, neverOpen}, resume.options());
    for (TADOConnection* connection : {first, second}) {
        QVERIFY(connection->Connected());
        QVERIFY(connection->InTransaction());
    }
    QVERIFY(!neverOpen->Connected());
}

void TestPower::markStaysForLaterResumes() {
    TADOConnection* connection = makeConnection(QStringLiteral("A"), m_env->path(QStringLiteral("a.db")));
    connection->Open();
    HandleSuspend({connection});
    ScriptedDialogs dialogs;
    dialogs.expect(reconnectedText(1)).expect(reconnectedText(1));
    TestResume resume;
    HandleResume({connection}, resume.options());
    QCOMPARE(connection->Tag(), kSuspendedConnectionTag);
    // A later resume without a suspend between reconnects it again.
    HandleResume({connection}, resume.options());
    QVERIFY(connection->Connected());
}

void TestPower::failedReconnect_data() {
    QTest::addColumn<DialogButton>("answer");
    QTest::newRow("try again") << DialogButton::Yes;
    QTest::newRow("give up") << DialogButton::No;
}

// The database file cannot be opened after the wake-up: a folder has taken its place.
void TestPower::failedReconnect() {
    QFETCH(DialogButton, answer);
    const QString folder = m_env->makeFolder(QStringLiteral("share"));
    TADOConnection* healthy =
        makeConnection(QStringLiteral("ADOConnection1"), m_env->path(QStringLiteral("a.db")));
    TADOConnection* lost =
        makeConnection(QStringLiteral("ADOConnection2"), folder + QStringLiteral("/kelvo.db"));
    lost->SetConnectionString(lost->ConnectionString() + QStringLiteral(";User ID=bo;Password=hemligt"));
    healthy->Open();
    lost->Open();
    HandleSuspend({healthy, lost});
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/kelvo.db")));

    ScriptedDialogs dialogs;
    dialogs.expect(
        QStringLiteral("Databasanslutningen har avbrutits på ett felaktigt sätt!\rOch det automatiska "
                       "återanslutningsförsöket resulterade i följande fel:\r\r"),
        answer);
    if (answer == DialogButton::Yes)
        dialogs.expect(
            QStringLiteral("Det gick inte att ansluta till databasen igen. Programmet avslutas.\r\r"));
    else
        dialogs.expectExactly(DialogKind::Information, reconnectedText(1));
    TestResume resume;
    HandleResume({healthy, lost}, resume.options());

    const QString question = dialogs.shown().first().text;
    QVERIFY(question.endsWith(QStringLiteral("\r\rFörsöka ansluta igen?")));
    QVERIFY(healthy->Connected());
    QVERIFY(!lost->Connected());
    if (answer == DialogButton::Yes) {
        QCOMPARE(resume.exitCode, std::optional(1));
        const QString report = dialogs.shown().last().text;
        QVERIFY2(
            report.endsWith(QStringLiteral("\r\rDet gick inte att återansluta frmSettings.ADOConnection2!\r"
                                           "ConnectionString = Provider=SQLite;Data Source=") +
                            folder + QStringLiteral("/kelvo.db;User ID=****;Password=****\r\r")),
            qPrintable(report));
    } else {
        QVERIFY(!resume.exitCode);
    }
}

void TestPower::registrationOrderAndLifetime() {
    TADOConnection* first = makeConnection(QStringLiteral("A"), m_env->path(QStringLiteral("a.db")));
    TADOConnection* second = makeConnection(QStringLiteral("B"), m_env->path(QStringLiteral("b.db")));
    RegisterPowerConnection(second);
    RegisterPowerConnection(first);
    RegisterPowerConnection(second);
    QCOMPARE(PowerConnections(), QList<TADOConnection*>({second, first}));
    delete second;
    QCOMPARE(PowerConnections(), QList<TADOConnection*>({first}));
    UnregisterPowerConnection(first);
    QVERIFY(PowerConnections().isEmpty());
}

void TestPower::powerHandlerHearsPowerPort() {
    platform::PowerEvents events;
    TestResume resume;
    TKelvoPowerHandler tools(events, resume.options());
    QCOMPARE(tools.objectName(), QStringLiteral("frmKelvoTools")); // the designer's name
    TADOConnection* connection = makeConnection(QStringLiteral("A"), m_env->path(QStringLiteral("a.db")));
    RegisterPowerConnection(connection);
    connection->Open();
    Q_EMIT events.suspending();
    QVERIFY(!connection->Connected());
    ScriptedDialogs dialogs;
    dialogs.expect(reconnectedText(1));
    Q_EMIT events.resumed();
    QVERIFY(connection->Connected());
    UnregisterPowerConnection(connection);
}

void TestPower::logindWithoutBusEmitsNothing() {
    const QDBusConnection noBus(QStringLiteral("ravlek-no-such-bus"));
    platform::LogindPowerEvents events(noBus);
    QVERIFY(!events.isListening());
}

// A private bus on which the test plays logind.
void TestPower::logindSignalsBecomeEvents() {
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address")});
    if (!daemon.waitForStarted())
        QSKIP("dbus-daemon is not installed");
    QVERIFY(daemon.waitForReadyRead());
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    {
        QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
        QDBusConnection program = QDBusConnection::connectToBus(address, QStringLiteral("program"));
        QVERIFY(logind.isConnected() && program.isConnected());
        QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));

        platform::LogindPowerEvents events(program);
        QVERIFY(events.isListening());
        QSignalSpy suspending(&events, &platform::PowerEvents::suspending);
        QSignalSpy resumed(&events, &platform::PowerEvents::resumed);
        const auto prepareForSleep = [&logind](bool start) {
            QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                             QStringLiteral("org.freedesktop.login1.Manager"),
                                                             QStringLiteral("PrepareForSleep"));
            signal << start;
            QVERIFY(logind.send(signal));
        };
        prepareForSleep(true);
        QVERIFY(suspending.wait());
        QCOMPARE(resumed.count(), 0);
        prepareForSleep(false);
        QVERIFY(resumed.wait());
        QCOMPARE(suspending.count(), 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    QDBusConnection::disconnectFromBus(QStringLiteral("program"));
    daemon.terminate();
    daemon.waitForFinished();
}

QTEST_MAIN(TestPower)
#include "tst_power.moc"
