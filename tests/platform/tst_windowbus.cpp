// The window bus between real processes: this test program starts copies of itself as peer
// processes ("--peer ..." or "--register ...") that register windows and message names on
// the same bus folder (the test's XDG_RUNTIME_DIR, which they inherit).

#include "TestEnvironment.h"
#include "platform/LocalWindowBus.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using platform::windowBus;
using platform::WindowHandle;

namespace {

// Messages a peer answers.
const QString PeerSubtract = QStringLiteral("PEER_SUBTRACT");  // wParam - lParam
const QString PeerMark = QStringLiteral("PEER_MARK");          // writes "marked" in its folder, late
const QString PeerBlock = QStringLiteral("PEER_BLOCK");        // waits until "release" exists
const QString PeerCallBack = QStringLiteral("PEER_CALL_BACK"); // sends lParam to window wParam, + 1
const QString PeerState = QStringLiteral("PEER_STATE");        // its widget's window state
const QString PeerExit = QStringLiteral("PEER_EXIT");          // ends the process mid-message

// ---- peer side ------------------------------------------------------------------------

int runWindowPeer(const QString& className, const QString& title, bool minimised) {
    QWidget widget;
    widget.setWindowTitle(title);
    if (minimised)
        widget.showMinimized();
    else
        widget.show();

    platform::WindowBus& bus = windowBus();
    const quint32 subtract = bus.registerWindowMessage(PeerSubtract);
    const quint32 mark = bus.registerWindowMessage(PeerMark);
    const quint32 block = bus.registerWindowMessage(PeerBlock);
    const quint32 callBack = bus.registerWindowMessage(PeerCallBack);
    const quint32 state = bus.registerWindowMessage(PeerState);
    const quint32 exitNow = bus.registerWindowMessage(PeerExit);
    const auto handler = [&](quint32 msg, qint64 wParam, qint64 lParam) -> qint64 {
        if (msg == subtract)
            return wParam - lParam;
        if (msg == mark) {
            QThread::msleep(100); // a sender that did not wait would look too early
            QFile(QStringLiteral("marked")).open(QIODevice::WriteOnly);
            return 1;
        }
        if (msg == block) {
            while (!QFile::exists(QStringLiteral("release")))
                QThread::msleep(5);
            return 1;
        }
        if (msg == callBack)
            return windowBus().sendMessage(WindowHandle(wParam), quint32(lParam), 20, 22) + 1;
        if (msg == state)
            return qint64(widget.windowState());
        if (msg == exitNow)
            ::_exit(0);
        return 0;
    };
    QString error;
    const auto registration = bus.registerWindow({className, title, handler, &widget}, &error);
    if (!registration) {
        qWarning("%s", qUtf8Printable(error));
        return 2;
    }
    QTextStream(stdout) << "HWND=" << registration->handle() << Qt::endl;
    return QApplication::exec();
}

int runRegisterPeer(const QStringList& names) {
    QTextStream out(stdout);
    for (const QString& name : names)
        out << name.toUpper() << '=' << windowBus().registerWindowMessage(name) << '\n';
    return 0;
}

// Adds an atom, prints its number and keeps it until its input closes.
int runAtomPeer(const QString& text) {
    const quint32 atom = windowBus().globalAddAtom(text);
    QTextStream(stdout) << "ATOM=" << atom << Qt::endl;
    QFile input;
    if (input.open(stdin, QIODevice::ReadOnly))
        input.readAll();
    windowBus().globalDeleteAtom(atom);
    return 0;
}

// ---- test side ------------------------------------------------------------------------

// A peer process with one registered window; killed when the object ends.
class Peer {
public:
    explicit Peer(const QString& className, bool minimised = false) {
        QStringList arguments{QStringLiteral("--peer"), className, QStringLiteral("Peer of ") + className};
        if (minimised)
            arguments << QStringLiteral("--minimised");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith("HWND="))
            m_handle = line.mid(5).toInt();
    }
    ~Peer() {
        m_process.kill();
        m_process.waitForFinished();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    WindowHandle handle() const { return m_handle; }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    WindowHandle m_handle = 0;
};

QString busFile(const QString& name) {
    return platform::LocalWindowBus::defaultFolder() + u'/' + name;
}
QString entryFile(WindowHandle handle) {
    return busFile(QStringLiteral("%1.window").arg(handle));
}
QString socketFile(WindowHandle handle) {
    return busFile(QStringLiteral("%1.sock").arg(handle));
}

// An entry as a dead or broken window leaves it behind.
void writeStaleEntry(WindowHandle handle, qint64 pid) {
    const QJsonObject entry{{QStringLiteral("handle"), handle},
                            {QStringLiteral("class"), QStringLiteral("TStale")},
                            {QStringLiteral("title"), QStringLiteral("Stale")},
                            {QStringLiteral("pid"), pid},
                            {QStringLiteral("activated"), QDateTime::currentMSecsSinceEpoch() * 1000}};
    QDir().mkpath(platform::LocalWindowBus::defaultFolder());
    QFile file(entryFile(handle));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(entry).toJson());
}

// A socket file that nobody listens on, as a killed process leaves it.
void leaveDeadSocket(WindowHandle handle) {
    const QByteArray path = QFile::encodeName(socketFile(handle));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof(address.sun_path));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

qint64 finishedProcessId() {
    QProcess process;
    process.start(QStringLiteral("true"), {});
    process.waitForFinished();
    return process.processId() ? process.processId() : 999999;
}

QList<WindowHandle> handlesOf(const QList<platform::WindowInfo>& windows) {
    QList<WindowHandle> handles;
    for (const platform::WindowInfo& window : windows)
        handles << window.handle;
    return handles;
}

std::unique_ptr<platform::WindowRegistration> registerTestWindow(const QString& className,
                                                                 const QString& title = QString(),
                                                                 platform::MessageHandler handler = {}) {
    QString error;
    auto registration = windowBus().registerWindow({className, title, std::move(handler), nullptr}, &error);
    if (!registration)
        qWarning("%s", qUtf8Printable(error));
    return registration;
}

} // namespace

class TestWindowBus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void busFolderFollowsRuntimeFolder_data();
    void busFolderFollowsRuntimeFolder();
    void messageNumbersAreSharedAcrossProcesses();
    void messageNamesIgnoreLetterCase_data();
    void messageNamesIgnoreLetterCase();
    void invalidMessageNamesGetNoNumber_data();
    void invalidMessageNamesGetNoNumber();
    void messageNameKeepsFirstSpelling();
    void findWindow_data();
    void findWindow();
    void enumWindowsPutsLastActivatedFirst();
    void titleChangeIsSeen();
    void registrationEndsWithItsObject();
    void sendMessageGivesHandlerResult_data();
    void sendMessageGivesHandlerResult();
    void sendMessageWaitsForHandler();
    void sendsToEachOtherDoNotDeadlock();
    void sendToOwnWindowCallsHandler();
    void sendFromWorkerThreadRunsHandlerOnGuiThread();
    void sendsThatReachNoWindowReturnAtOnce_data();
    void sendsThatReachNoWindowReturnAtOnce();
    void killedPeerVanishes();
    void receiverEndingWhileHandlingEndsTheSend();
    void staleEntriesVanish_data();
    void staleEntriesVanish();
    void timedSendToBusyReceiverGivesUp();
    void activationRestoresMinimisedWindow();
    void activationOfWindowWithoutWidgetIsNotAcknowledged();
    void widgetActivationMovesWindowToFront();
    void atomsKeepTexts_data();
    void atomsKeepTexts();
    void everyAddGivesAnAtomOfItsOwn();
    void atomsThatCannotBeMade_data();
    void atomsThatCannotBeMade();
    void atomsAreSharedAcrossProcesses();
};

void TestWindowBus::busFolderFollowsRuntimeFolder_data() {
    QTest::addColumn<QString>("runtime"); // XDG_RUNTIME_DIR; "<tmp>" stands for the test's folder
    QTest::addColumn<QString>("folder");  // the bus folder; "<tmp>" as above, "<uid>" the user id
    const QString fallback = QStringLiteral("/tmp/kelvo-bus-<uid>");
    QTest::newRow("absolute") << QStringLiteral("<tmp>/run") << QStringLiteral("<tmp>/run/kelvo-bus");
    QTest::newRow("trailing delimiter")
        << QStringLiteral("<tmp>/run/") << QStringLiteral("<tmp>/run/kelvo-bus");
    QTest::newRow("unset") << QString() << fallback;
    // The XDG rules say a relative path is to be ignored: a host started in another folder
    // would otherwise look for Ravlek on another bus.
    QTest::newRow("relative, ignored") << QStringLiteral("run") << fallback;
    QTest::newRow("dot, ignored") << QStringLiteral(".") << fallback;
}

void TestWindowBus::busFolderFollowsRuntimeFolder() {
    QFETCH(QString, runtime);
    QFETCH(QString, folder);
    TestEnvironment env;
    const auto expand = [&](QString text) {
        return text.replace(QStringLiteral("<tmp>"), env.root())
            .replace(QStringLiteral("<uid>"), QString::number(::getuid()));
    };
    env.setVariable("XDG_RUNTIME_DIR", expand(runtime));
    QCOMPARE(platform::LocalWindowBus::defaultFolder(), expand(folder));
    QCOMPARE(platform::LocalWindowBus().folder(), expand(folder));
}

void TestWindowBus::messageNumbersAreSharedAcrossProcesses() {
    TestEnvironment env;
    QStringList names;
    for (int i = 0; i < 12; ++i)
        names << QStringLiteral("KELVO_TEST_MESSAGE_%1").arg(i);
    const quint32 first = windowBus().registerWindowMessage(names.first());

    // Several processes register the same names at once, in different orders and spellings.
    std::vector<std::unique_ptr<QProcess>> peers;
    for (int p = 0; p < 4; ++p) {
        QStringList order = names;
        std::rotate(order.begin(), order.begin() + 3 * p, order.end());
        if (p % 2)
            for (QString& name : order)
                name = name.toLower();
        auto& peer = peers.emplace_back(std::make_unique<QProcess>());
        peer->start(QCoreApplication::applicationFilePath(),
                    QStringList{QStringLiteral("--register")} + order);
    }
    QHash<QString, quint32> agreed{{names.first(), first}};
    for (const auto& peer : peers) {
        QVERIFY(peer->waitForFinished());
        QCOMPARE(peer->exitCode(), 0);
        const QList<QByteArray> lines = peer->readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), names.size());
        for (const QByteArray& line : lines) {
            const QString name = QString::fromUtf8(line.left(line.indexOf('=')));
            const quint32 number = line.mid(line.indexOf('=') + 1).toUInt();
            QVERIFY2(number >= 0xC000 && number <= 0xFFFF, line.constData());
            QCOMPARE(agreed.value(name, number), number);
            agreed.insert(name, number);
        }
    }
    QCOMPARE(agreed.size(), names.size());
    const QList<quint32> numbers = agreed.values();
    QCOMPARE(QSet<quint32>(numbers.cbegin(), numbers.cend()).size(), names.size());
    for (const QString& name : names)
        QCOMPARE(windowBus().registerWindowMessage(name), agreed.value(name));
}

void TestWindowBus::messageNamesIgnoreLetterCase_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("host message") << QStringLiteral("XRAY_NEW_IMAGE") << QStringLiteral("xray_new_image");
    QTest::newRow("mixed") << QStringLiteral("Kelvo_Set_Active_Hwnd")
                           << QStringLiteral("KELVO_SET_ACTIVE_HWND");
    QTest::newRow("beyond ASCII") << QStringLiteral("Röntgenbild_Klar") << QStringLiteral("RÖNTGENBILD_KLAR");
}

void TestWindowBus::messageNamesIgnoreLetterCase() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    TestEnvironment env;
    const quint32 other = windowBus().registerWindowMessage(QStringLiteral("XRAY_TRANSFERRED"));
    const quint32 number = windowBus().registerWindowMessage(first);
    QVERIFY(number >= 0xC000);
    QVERIFY(number != other);
    QCOMPARE(windowBus().registerWindowMessage(second), number);

    // Another process, which has nothing cached, reads the same number from the table.
    QProcess peer;
    peer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--register"), second});
    QVERIFY(peer.waitForFinished());
    QCOMPARE(peer.readAllStandardOutput().trimmed().split('=').value(1).toUInt(), number);
}

void TestWindowBus::invalidMessageNamesGetNoNumber_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("line feed") << QStringLiteral("A\nB") << false;
    QTest::newRow("carriage return") << QStringLiteral("A\rB") << false;
    QTest::newRow("256 characters") << QString(256, u'M') << false;
    QTest::newRow("255 characters") << QString(255, u'M') << true;
    QTest::newRow("blanks inside") << QStringLiteral(" two words ") << true;
}

void TestWindowBus::invalidMessageNamesGetNoNumber() {
    QFETCH(QString, name);
    QFETCH(bool, valid);
    TestEnvironment env;
    const quint32 number = windowBus().registerWindowMessage(name);
    QCOMPARE(number != 0, valid);
    if (valid)
        QCOMPARE(windowBus().messageName(number), name);
}

void TestWindowBus::messageNameKeepsFirstSpelling() {
    TestEnvironment env;
    const quint32 number = windowBus().registerWindowMessage(QStringLiteral("XRAY_TRANSFERRED"));
    QCOMPARE(windowBus().registerWindowMessage(QStringLiteral("Xray_Transferred")), number);
    QCOMPARE(windowBus().messageName(number), QStringLiteral("XRAY_TRANSFERRED"));
    QCOMPARE(windowBus().messageName(number + 1), QString());
    QCOMPARE(windowBus().messageName(0), QString());
}

void TestWindowBus::findWindow_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("expected"); // index of the registered window, -1 for none

    QTest::newRow("class and title") << QStringLiteral("TApplication")
                                     << QStringLiteral("Kelvo Digital X-Ray") << 0;
    QTest::newRow("title in other case")
        << QStringLiteral("TApplication") << QStringLiteral("KELVO DIGITAL X-RAY") << 0;
    QTest::newRow("class only") << QStringLiteral("TRavlekMainForm") << QString() << 1;
    QTest::newRow("class in other case") << QStringLiteral("travlekmainform") << QString() << 1;
    QTest::newRow("title only") << QString() << QStringLiteral("Journal") << 2;
    QTest::newRow("any: the last activated") << QString() << QString() << 2;
    QTest::newRow("title of another class")
        << QStringLiteral("TApplication") << QStringLiteral("Journal") << -1;
    QTest::newRow("unknown class") << QStringLiteral("TProgressAppMainForm") << QString() << -1;
    QTest::newRow("part of a title") << QString() << QStringLiteral("Kelvo") << -1;
}

void TestWindowBus::findWindow() {
    QFETCH(QString, className);
    QFETCH(QString, title);
    QFETCH(int, expected);
    TestEnvironment env;
    std::vector<std::unique_ptr<platform::WindowRegistration>> windows;
    windows.push_back(
        registerTestWindow(QStringLiteral("TApplication"), QStringLiteral("Kelvo Digital X-Ray")));
    windows.push_back(registerTestWindow(QStringLiteral("TRavlekMainForm"), QStringLiteral("Digora")));
    windows.push_back(registerTestWindow(QStringLiteral("TRavlekHost"), QStringLiteral("Journal")));
    for (const auto& window : windows)
        QVERIFY(window);
    QCOMPARE(windowBus().findWindow(className, title), expected < 0 ? 0 : windows[expected]->handle());
}

void TestWindowBus::enumWindowsPutsLastActivatedFirst() {
    TestEnvironment env;
    const auto a = registerTestWindow(QStringLiteral("TA"));
    const auto b = registerTestWindow(QStringLiteral("TB"));
    const auto c = registerTestWindow(QStringLiteral("TC"));
    QVERIFY(a && b && c);
    QCOMPARE(handlesOf(windowBus().enumWindows()), (QList{c->handle(), b->handle(), a->handle()}));
    a->noteActivated();
    QCOMPARE(handlesOf(windowBus().enumWindows()), (QList{a->handle(), c->handle(), b->handle()}));
    b->noteActivated();
    QCOMPARE(handlesOf(windowBus().enumWindows()), (QList{b->handle(), a->handle(), c->handle()}));

    const platform::WindowInfo first = windowBus().enumWindows().first();
    QCOMPARE(first.className, QStringLiteral("TB"));
    QCOMPARE(first.processId, QCoreApplication::applicationPid());
}

void TestWindowBus::titleChangeIsSeen() {
    TestEnvironment env;
    const auto window = registerTestWindow(QStringLiteral("TApplication"), QStringLiteral("Ravlek"));
    QVERIFY(window);
    window->setTitle(QStringLiteral("Kelvo Digital X-Ray"));
    QCOMPARE(window->title(), QStringLiteral("Kelvo Digital X-Ray"));
    QCOMPARE(windowBus().findWindow(QStringLiteral("TApplication"), QStringLiteral("Kelvo Digital X-Ray")),
             window->handle());
    QCOMPARE(windowBus().findWindow(QStringLiteral("TApplication"), QStringLiteral("Ravlek")), 0);
}

void TestWindowBus::registrationEndsWithItsObject() {
    TestEnvironment env;
    auto window = registerTestWindow(QStringLiteral("TRavlekMainForm"));
    QVERIFY(window);
    const WindowHandle handle = window->handle();
    QVERIFY(handle > 0);
    QVERIFY(windowBus().isWindow(handle));
    QVERIFY(QFile::exists(entryFile(handle)));
    QVERIFY(QFile::exists(socketFile(handle)));
    QCOMPARE(QFile::permissions(platform::LocalWindowBus::defaultFolder()) & 0x0077, 0);

    window.reset();
    QVERIFY(!windowBus().isWindow(handle));
    QVERIFY(!QFile::exists(entryFile(handle)));
    QVERIFY(!QFile::exists(socketFile(handle)));
    QCOMPARE(windowBus().findWindow(QStringLiteral("TRavlekMainForm"), QString()), 0);
}

void TestWindowBus::sendMessageGivesHandlerResult_data() {
    QTest::addColumn<qint64>("wParam");
    QTest::addColumn<qint64>("lParam");
    QTest::newRow("small") << qint64(50) << qint64(8);
    QTest::newRow("negative result") << qint64(-5) << qint64(7);
    QTest::newRow("beyond 32 bits") << qint64(0x7FFFFFFFFFFFFFFF) << qint64(0x100000000);
    QTest::newRow("lowest") << std::numeric_limits<qint64>::min() << qint64(-1);
}

void TestWindowBus::sendMessageGivesHandlerResult() {
    QFETCH(qint64, wParam);
    QFETCH(qint64, lParam);
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekHost"));
    QVERIFY(peer.handle() > 0);
    const quint32 subtract = windowBus().registerWindowMessage(PeerSubtract);
    QCOMPARE(windowBus().sendMessage(peer.handle(), subtract, wParam, lParam), wParam - lParam);
    qint64 result = 0;
    QVERIFY(windowBus().sendMessageTimeout(peer.handle(), subtract, wParam, lParam, 10000, &result));
    QCOMPARE(result, wParam - lParam);
}

void TestWindowBus::sendMessageWaitsForHandler() {
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekHost"));
    QVERIFY(peer.handle() > 0);
    QCOMPARE(windowBus().sendMessage(peer.handle(), windowBus().registerWindowMessage(PeerMark), 0, 0), 1);
    QVERIFY(QFile::exists(QStringLiteral("marked"))); // the peer shares our current folder
}

void TestWindowBus::sendsToEachOtherDoNotDeadlock() {
    TestEnvironment env;
    // While this thread waits for the peer, the peer sends to our window: we must answer it.
    const auto window =
        registerTestWindow(QStringLiteral("TRavlekMainForm"), QString(),
                           [](quint32, qint64 wParam, qint64 lParam) { return wParam + lParam; });
    QVERIFY(window);
    Peer peer(QStringLiteral("TRavlekHost"));
    QVERIFY(peer.handle() > 0);
    const quint32 sum = windowBus().registerWindowMessage(QStringLiteral("TEST_SUM"));
    // A generous time-out turns a deadlock into a failure instead of a hang.
    qint64 result = 0;
    QVERIFY(windowBus().sendMessageTimeout(peer.handle(), windowBus().registerWindowMessage(PeerCallBack),
                                           window->handle(), sum, 30000, &result));
    QCOMPARE(result, 43);
}

void TestWindowBus::sendToOwnWindowCallsHandler() {
    TestEnvironment env;
    QList<quint32> received;
    const auto window = registerTestWindow(QStringLiteral("TApplication"), QString(),
                                           [&](quint32 msg, qint64 wParam, qint64 lParam) {
                                               received << msg;
                                               return wParam * lParam;
                                           });
    QVERIFY(window);
    QCOMPARE(windowBus().sendMessage(window->handle(), 0xC123, 6, 7), 42);
    QCOMPARE(windowBus().sendMessage(window->handle(), 0, 6, 7), 0); // the null message reaches nobody
    QCOMPARE(received, QList<quint32>{0xC123});
}

void TestWindowBus::sendFromWorkerThreadRunsHandlerOnGuiThread() {
    TestEnvironment env;
    QThread* handlerThread = nullptr;
    const auto window =
        registerTestWindow(QStringLiteral("TRavlekMainForm"), QString(), [&](quint32, qint64 wParam, qint64) {
            handlerThread = QThread::currentThread();
            return wParam * 2;
        });
    QVERIFY(window);
    const WindowHandle handle = window->handle();
    bool answered = false;
    qint64 result = 0;
    std::unique_ptr<QThread> worker(QThread::create(
        [&] { answered = windowBus().sendMessageTimeout(handle, 0xC200, 21, 0, 10000, &result); }));
    worker->start();
    QTRY_VERIFY(worker->isFinished()); // keeps the event loop of this (GUI) thread running
    QVERIFY(answered);
    QCOMPARE(result, 42);
    QCOMPARE(handlerThread, QThread::currentThread());
}

void TestWindowBus::sendsThatReachNoWindowReturnAtOnce_data() {
    QTest::addColumn<bool>("toPeer");
    QTest::addColumn<WindowHandle>("handle");
    QTest::addColumn<quint32>("msg");
    QTest::newRow("handle 0") << false << WindowHandle(0) << quint32(0xC000);
    QTest::newRow("negative handle") << false << WindowHandle(-5) << quint32(0xC000);
    QTest::newRow("never registered") << false << WindowHandle(123456) << quint32(0xC000);
    QTest::newRow("null message to a live window") << true << WindowHandle(0) << quint32(0);
}

void TestWindowBus::sendsThatReachNoWindowReturnAtOnce() {
    QFETCH(bool, toPeer);
    QFETCH(WindowHandle, handle);
    QFETCH(quint32, msg);
    TestEnvironment env;
    std::unique_ptr<Peer> peer;
    if (toPeer) {
        peer = std::make_unique<Peer>(QStringLiteral("TRavlekHost"));
        handle = peer->handle();
        QVERIFY(handle > 0);
    }
    QCOMPARE(windowBus().sendMessage(handle, msg, 1, 1), 0);
    qint64 result = -1;
    QVERIFY(!windowBus().sendMessageTimeout(handle, msg, 1, 1, 60000, &result));
    QCOMPARE(result, 0);
    if (!toPeer)
        QVERIFY(!windowBus().activate(handle));
    QCOMPARE(windowBus().isWindow(handle), toPeer);
}

void TestWindowBus::killedPeerVanishes() {
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekHost"));
    const WindowHandle handle = peer.handle();
    QVERIFY(handle > 0);
    QCOMPARE(windowBus().findWindow(QStringLiteral("TRavlekHost"), QString()), handle);

    peer.process().kill();
    QVERIFY(peer.process().waitForFinished());
    const quint32 subtract = windowBus().registerWindowMessage(PeerSubtract);
    QCOMPARE(windowBus().sendMessage(handle, subtract, 3, 1), 0);
    QVERIFY(!windowBus().sendMessageTimeout(handle, subtract, 3, 1, 60000));
    QVERIFY(!windowBus().activate(handle));
    QVERIFY(!windowBus().isWindow(handle));
    QCOMPARE(windowBus().findWindow(QStringLiteral("TRavlekHost"), QString()), 0);
    QVERIFY(!handlesOf(windowBus().enumWindows()).contains(handle));
    QVERIFY(!QFile::exists(entryFile(handle)));
    QVERIFY(!QFile::exists(socketFile(handle)));
}

void TestWindowBus::receiverEndingWhileHandlingEndsTheSend() {
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekHost"));
    QVERIFY(peer.handle() > 0);
    QCOMPARE(windowBus().sendMessage(peer.handle(), windowBus().registerWindowMessage(PeerExit), 0, 0), 0);
    QVERIFY(peer.process().waitForFinished());
    QVERIFY(!windowBus().isWindow(peer.handle()));
}

void TestWindowBus::staleEntriesVanish_data() {
    QTest::addColumn<bool>("processAlive");
    QTest::addColumn<bool>("socketLeft");
    QTest::newRow("ended process, no socket") << false << false;
    QTest::newRow("ended process, socket left") << false << true;
    QTest::newRow("running process, no socket") << true << false;
    QTest::newRow("running process, nobody listens") << true << true;
}

void TestWindowBus::staleEntriesVanish() {
    QFETCH(bool, processAlive);
    QFETCH(bool, socketLeft);
    TestEnvironment env;
    const WindowHandle handle = 777777;
    const qint64 pid = processAlive ? QCoreApplication::applicationPid() : finishedProcessId();
    const QString entry = entryFile(handle);
    const auto leaveStaleWindow = [&] {
        writeStaleEntry(handle, pid);
        if (socketLeft && !QFile::exists(socketFile(handle)))
            leaveDeadSocket(handle);
        QVERIFY(QFile::exists(entry));
    };

    leaveStaleWindow();
    QCOMPARE(windowBus().findWindow(QStringLiteral("TStale"), QString()), 0);
    QVERIFY(!QFile::exists(entry));
    QVERIFY(!QFile::exists(socketFile(handle)));

    leaveStaleWindow();
    QVERIFY(!handlesOf(windowBus().enumWindows()).contains(handle));
    QVERIFY(!QFile::exists(entry));

    leaveStaleWindow();
    QCOMPARE(windowBus().sendMessage(handle, 0xC000, 0, 0), 0);
    QVERIFY(!QFile::exists(entry));

    leaveStaleWindow();
    QVERIFY(!windowBus().sendMessageTimeout(handle, 0xC000, 0, 0, 60000));
    QVERIFY(!windowBus().activate(handle, 60000));
    QVERIFY(!windowBus().isWindow(handle));
    QVERIFY(!QFile::exists(entry));
}

void TestWindowBus::timedSendToBusyReceiverGivesUp() {
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekHost"));
    QVERIFY(peer.handle() > 0);
    qint64 result = -1;
    QVERIFY(!windowBus().sendMessageTimeout(peer.handle(), windowBus().registerWindowMessage(PeerBlock), 0, 0,
                                            200, &result));
    QCOMPARE(result, 0);
    QVERIFY(windowBus().isWindow(peer.handle())); // busy, not dead

    // Released, the peer answers to a closed connection and carries on.
    QFile(QStringLiteral("release")).open(QIODevice::WriteOnly);
    QCOMPARE(windowBus().sendMessage(peer.handle(), windowBus().registerWindowMessage(PeerSubtract), 9, 2),
             7);
}

void TestWindowBus::activationRestoresMinimisedWindow() {
    TestEnvironment env;
    Peer peer(QStringLiteral("TRavlekMainForm"), true);
    QVERIFY(peer.handle() > 0);
    const quint32 state = windowBus().registerWindowMessage(PeerState);
    QVERIFY(windowBus().sendMessage(peer.handle(), state, 0, 0) & Qt::WindowMinimized);
    // A window without widget never moves in the activation order by itself.
    const auto newer = registerTestWindow(QStringLiteral("TOther"));
    QVERIFY(newer);
    const auto stampOf = [](WindowHandle handle) {
        for (const platform::WindowInfo& window : windowBus().enumWindows())
            if (window.handle == handle)
                return window.activationStamp;
        return qint64(-1);
    };
    const qint64 stampBefore = stampOf(peer.handle());

    QVERIFY(windowBus().activate(peer.handle()));
    QVERIFY(!(windowBus().sendMessage(peer.handle(), state, 0, 0) & Qt::WindowMinimized));
    QVERIFY(stampOf(peer.handle()) > stampBefore);
    QCOMPARE(windowBus().enumWindows().first().handle, peer.handle());
}

void TestWindowBus::activationOfWindowWithoutWidgetIsNotAcknowledged() {
    TestEnvironment env;
    const auto window =
        registerTestWindow(QStringLiteral("TApplication"), QStringLiteral("Kelvo Digital X-Ray"));
    QVERIFY(window);
    QVERIFY(!windowBus().activate(window->handle()));
    QVERIFY(windowBus().isWindow(window->handle()));
}

void TestWindowBus::widgetActivationMovesWindowToFront() {
    TestEnvironment env;
    QWidget widget;
    QString error;
    const auto window =
        windowBus().registerWindow({QStringLiteral("TRavlekMainForm"), QString(), {}, &widget}, &error);
    QVERIFY2(window, qPrintable(error));
    const auto later = registerTestWindow(QStringLiteral("TApplication"));
    QVERIFY(later);
    QCOMPARE(windowBus().enumWindows().first().handle, later->handle());

    widget.show();
    widget.activateWindow();
    QTRY_COMPARE(windowBus().enumWindows().first().handle, window->handle());
}

void TestWindowBus::atomsKeepTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("caption") << QStringLiteral("Ansluter till databasen");
    QTest::newRow("Swedish letters and punctuation") << QStringLiteral("Ansluter till databasen, vänta...");
    QTest::newRow("empty") << QString();
    QTest::newRow("line breaks and quotes") << QStringLiteral("one\r\ntwo \"three\" \\four");
    QTest::newRow("longest") << QString(platform::WindowBus::kMaxAtomLength, QChar(0x00e5));
}

void TestWindowBus::atomsKeepTexts() {
    QFETCH(QString, text);
    TestEnvironment env;
    const quint32 atom = windowBus().globalAddAtom(text);
    QVERIFY(atom >= 0xC000 && atom <= 0xFFFF);
    QCOMPARE(windowBus().globalGetAtomName(atom).value_or(QStringLiteral("<no atom>")), text);
    windowBus().globalDeleteAtom(atom);
    QVERIFY(!windowBus().globalGetAtomName(atom));
    QVERIFY(!QFile::exists(busFile(QStringLiteral("%1.atom").arg(atom))));
}

void TestWindowBus::everyAddGivesAnAtomOfItsOwn() {
    TestEnvironment env;
    const quint32 first = windowBus().globalAddAtom(QStringLiteral("Status"));
    const quint32 second = windowBus().globalAddAtom(QStringLiteral("Status"));
    QVERIFY(first != 0 && second != 0);
    QVERIFY(first != second);
    // Deleting one leaves the other for whoever still reads it.
    windowBus().globalDeleteAtom(first);
    QCOMPARE(windowBus().globalGetAtomName(second).value_or(QStringLiteral("<no atom>")),
             QStringLiteral("Status"));
    windowBus().globalDeleteAtom(second);
}

void TestWindowBus::atomsThatCannotBeMade_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("usableFolder");
    QTest::newRow("longer than 255 characters") << QString(256, QLatin1Char('x')) << true;
    QTest::newRow("bus folder of another kind") << QStringLiteral("Status") << false;
}

void TestWindowBus::atomsThatCannotBeMade() {
    QFETCH(QString, text);
    QFETCH(bool, usableFolder);
    TestEnvironment env;
    if (!usableFolder) // a file where the folder belongs
        env.writeFile(QStringLiteral("runtime/kelvo-bus"), "x");
    QCOMPARE(windowBus().globalAddAtom(text), 0u);
    // Numbers that are no atoms have no text.
    for (const quint32 atom : {0u, 0xBFFFu, 0x10000u, 0xC000u})
        QVERIFY(!windowBus().globalGetAtomName(atom));
}

void TestWindowBus::atomsAreSharedAcrossProcesses() {
    TestEnvironment env;
    const QString text = QStringLiteral("Ansluter till databasen, vänta...");
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--atom"), text});
    QVERIFY(peer.waitForReadyRead(10000));
    const QByteArray line = peer.readLine().trimmed();
    QVERIFY2(line.startsWith("ATOM="), line.constData());
    const quint32 atom = line.mid(5).toUInt();
    QCOMPARE(windowBus().globalGetAtomName(atom).value_or(QStringLiteral("<no atom>")), text);
    peer.closeWriteChannel();
    QVERIFY(peer.waitForFinished(10000));
    QVERIFY(!windowBus().globalGetAtomName(atom));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == u"--peer")
        return runWindowPeer(arguments.value(2), arguments.value(3), arguments.contains(u"--minimised"));
    if (arguments.value(1) == u"--register")
        return runRegisterPeer(arguments.mid(2));
    if (arguments.value(1) == u"--atom")
        return runAtomPeer(arguments.value(2));
    TestWindowBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowbus.moc"
