#include "platform/FileSystem.h"
#include "platform/LinuxWorkstation.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStyleFactory>
#include <QtTest>

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using platform::DialogButton;
using platform::DialogKind;
using platform::DialogRequest;

namespace {

const QString kEnglishReport = QStringLiteral(
    "Row cannot be located for updating. Some values may have been changed since it was last read");
const QString kSwedishReport = QStringLiteral(
    "Det gick inte att hitta raden för uppdatering. Vissa värden kan ha ändrats sedan den lästes sist");
const QString kAdvice = QStringLiteral("Uppgifterna kan ha ändrats av en annan användare.\r"
                                       "Om möjligt, kopiera dina ändringar till klippbordet.\r\r"
                                       "Tryck sedan Ångra för att se de aktuella uppgifterna.");

enum class Message { Information, Failure, Error, Notice, Confirm };

void showMessage(Message message, const QString& text) {
    switch (message) {
    case Message::Information:
        InformationMessage(text);
        break;
    case Message::Failure:
        FailureMessage(text);
        break;
    case Message::Error:
        ErrorMessage(text);
        break;
    case Message::Notice:
        NoticeMessage(text);
        break;
    case Message::Confirm:
        ConfirmMessage(text);
        break;
    }
}

// Answers every box at once and notes whether the progress window was still up.
class ProgressWatchingDialogs : public platform::DialogService {
public:
    DialogButton show(const DialogRequest&) override {
        progressShownAtMessage = ProgressWindow() != nullptr;
        ++count;
        return DialogButton::Ok;
    }
    bool progressShownAtMessage = true;
    int count = 0;
};

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

} // namespace

class tst_Messages : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lostUpdateRule_data();
    void lostUpdateRule();
    void confirmMessage_data();
    void confirmMessage();
    void progressIsTakenDownFirst_data();
    void progressIsTakenDownFirst();
    void progressWindow();
    void progressOnlyIfKnownShowsNothing();
    void elapsedCaption_data();
    void elapsedCaption();
    void prepareForm_data();
    void prepareForm();
    void findFilesWithPattern();
    void findFilesWithoutPattern();
    void findFilesStopsTheFolderAtTheFirstMatchingFile();
    void findFilesMatchesLikeWindows_data();
    void findFilesMatchesLikeWindows();
    void findFilesInMissingFolder();
    void findFilesSurvivesLinkLoops();
    void findFilesReportsUnreadableFolder();
    void workstationName_data();
    void workstationName();
    void workstationNameDoubleFailure();
    void computerNameOfHost_data();
    void computerNameOfHost();
};

void tst_Messages::lostUpdateRule_data() {
    QTest::addColumn<int>("message");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");

    QCOMPARE(kEnglishReport.size(), 92);
    QCOMPARE(kSwedishReport.size(), 96);
    const QString lead = QStringLiteral("Det gick inte att spara!\r\r");
    const auto row = [](const char* name, Message message, const QString& text, DialogKind kind,
                        const QString& shown) {
        QTest::newRow(name) << int(message) << text << int(kind) << shown;
    };
    row("error with the English report", Message::Error, lead + kEnglishReport, DialogKind::Error,
        lead + kAdvice);
    row("information with the English report is a warning", Message::Information, lead + kEnglishReport,
        DialogKind::Warning, lead + kAdvice);
    row("Swedish report", Message::Information, lead + kSwedishReport + QStringLiteral("."),
        DialogKind::Warning, lead + kAdvice + QStringLiteral("."));
    row("information without a report", Message::Information, QStringLiteral("Klart.\rNästa rad"),
        DialogKind::Information, QStringLiteral("Klart.\rNästa rad"));
    row("failure with the English report", Message::Failure, lead + kEnglishReport, DialogKind::Warning,
        lead + kAdvice);
    row("failure without a report", Message::Failure, QStringLiteral("Fel"), DialogKind::Warning,
        QStringLiteral("Fel"));
    row("error without a report", Message::Error, QStringLiteral("Fel"), DialogKind::Error,
        QStringLiteral("Fel"));
    row("only the first occurrence", Message::Error, kEnglishReport + QStringLiteral("|") + kEnglishReport,
        DialogKind::Error, kAdvice + QStringLiteral("|") + kEnglishReport);
    row("English before Swedish", Message::Error, kSwedishReport + QStringLiteral("|") + kEnglishReport,
        DialogKind::Error, kSwedishReport + QStringLiteral("|") + kAdvice);
    row("letter case matters", Message::Information, kEnglishReport.toLower(), DialogKind::Information,
        kEnglishReport.toLower());
    row("notice shows the report unchanged", Message::Notice, kEnglishReport, DialogKind::Information,
        kEnglishReport);
}

void tst_Messages::lostUpdateRule() {
    QFETCH(int, message);
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(QString, shown);
    ScriptedDialogs dialogs;
    dialogs.expectExactly(static_cast<DialogKind>(kind), shown);
    showMessage(static_cast<Message>(message), text);
    QCOMPARE(dialogs.shown().size(), 1);
    QCOMPARE(dialogs.shown().first().buttons, QList<DialogButton>{DialogButton::Ok});
    QCOMPARE(dialogs.shown().first().defaultButton, DialogButton::Ok);
}

void tst_Messages::confirmMessage_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("result");
    QTest::newRow("Yes") << int(DialogButton::Yes) << true;
    QTest::newRow("No") << int(DialogButton::No) << false;
    QTest::newRow("closed") << int(DialogButton::None) << false;
}

void tst_Messages::confirmMessage() {
    QFETCH(int, answer);
    QFETCH(bool, result);
    ScriptedDialogs dialogs;
    const QString question = QStringLiteral("Radera DataProvider-filen ") + kEnglishReport;
    dialogs.expectExactly(DialogKind::Confirmation, question, static_cast<DialogButton>(answer));
    QCOMPARE(ConfirmMessage(question), result);
    const DialogRequest& request = dialogs.shown().first();
    QCOMPARE(request.buttons, (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
    QCOMPARE(request.defaultButton, DialogButton::Yes);
}

void tst_Messages::progressIsTakenDownFirst_data() {
    QTest::addColumn<int>("message");
    QTest::newRow("information") << int(Message::Information);
    QTest::newRow("failure") << int(Message::Failure);
    QTest::newRow("error") << int(Message::Error);
    QTest::newRow("notice") << int(Message::Notice);
    QTest::newRow("confirm") << int(Message::Confirm);
}

void tst_Messages::progressIsTakenDownFirst() {
    QFETCH(int, message);
    ProgressWatchingDialogs dialogs;
    platform::ScopedPort<platform::DialogService> scope(dialogs);
    StartProgress(QStringLiteral("Ansluter"), QStringLiteral("Vänta..."));
    QVERIFY(ProgressWindow());
    showMessage(static_cast<Message>(message), QStringLiteral("text"));
    QCOMPARE(dialogs.count, 1);
    QVERIFY(!dialogs.progressShownAtMessage);
    QVERIFY(!ProgressWindow());
    QVERIFY(!QApplication::overrideCursor());
}

void tst_Messages::progressWindow() {
    StartProgress(QStringLiteral("Status"), QStringLiteral("Ansluter till databasen..."));
    QPointer<TfrmProgress> window = ProgressWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Status"));
    QCOMPARE(window->StatusLabel->text(), QStringLiteral("Ansluter till databasen..."));
    QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    // The user cannot close it.
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());

    // A second call updates the same window.
    StartProgress(QStringLiteral("Vänta"), QStringLiteral("Läser"));
    QCOMPARE(ProgressWindow(), window.data());
    QCOMPARE(window->windowTitle(), QStringLiteral("Vänta"));
    QCOMPARE(window->StatusLabel->text(), QStringLiteral("Läser"));

    EndProgress(false);
    QVERIFY(!window);
    QVERIFY(!QApplication::overrideCursor());
    EndProgress(true); // with nothing shown
    QVERIFY(!ProgressWindow());
}

void tst_Messages::progressOnlyIfKnownShowsNothing() {
    StartProgress(QStringLiteral("Status"), QStringLiteral("x"), true);
    QVERIFY(!ProgressWindow());
    QVERIFY(!QApplication::overrideCursor());
}

void tst_Messages::elapsedCaption_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<QString>("caption");
    QTest::newRow("decimal comma") << QStringLiteral("sv_SE") << 1200 << QStringLiteral("Status - 1,2s");
    QTest::newRow("whole seconds without decimal")
        << QStringLiteral("sv_SE") << 2000 << QStringLiteral("Status - 2s");
    QTest::newRow("decimal point") << QStringLiteral("en_US") << 3400 << QStringLiteral("Status - 3.4s");
}

void tst_Messages::elapsedCaption() {
    QFETCH(QString, locale);
    QFETCH(int, milliseconds);
    QFETCH(QString, caption);
    const QLocale previous;
    QLocale::setDefault(QLocale(locale));
    const QString result = TfrmProgress::ElapsedCaption(QStringLiteral("Status"), milliseconds);
    QLocale::setDefault(previous);
    QCOMPARE(result, caption);
}

void tst_Messages::prepareForm_data() {
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("fixedSize");
    QTest::addColumn<int>("extraWidth");
    QTest::newRow("windows style") << QStringLiteral("Windows") << false << 0;
    QTest::newRow("fusion style") << QStringLiteral("Fusion") << false << 10;
    QTest::newRow("fusion style, fixed size") << QStringLiteral("Fusion") << true << 10;
}

void tst_Messages::prepareForm() {
    QFETCH(QString, style);
    QFETCH(bool, fixedSize);
    QFETCH(int, extraWidth);
    QApplication::setStyle(QStyleFactory::create(style));
    QWidget form;
    if (fixedSize)
        form.setFixedSize(296, 117);
    else
        form.resize(296, 117);
    PrepareForm(&form);
    QCOMPARE(form.width(), 296 + extraWidth);
    QCOMPARE(form.height(), 117);
}

void tst_Messages::findFilesWithPattern() {
    TestEnvironment env;
    const QString links = env.makeFolder(QStringLiteral("links"));
    for (const char* name : {"a.udl", "B.UDL", "notes.txt", "c.udl.bak"})
        env.writeFile(QStringLiteral("links/") + QLatin1String(name), "x");
    const QStringList expected{links + QStringLiteral("/B.UDL"), links + QStringLiteral("/a.udl")};
    QCOMPARE(sorted(FindFiles(links, QStringLiteral("*.udl"))), expected);
    QCOMPARE(sorted(FindFiles(links + QStringLiteral("//"), QStringLiteral("*.udl"))), expected);
}

void tst_Messages::findFilesWithoutPattern() {
    TestEnvironment env;
    const QString root = env.makeFolder(QStringLiteral("tree"));
    for (const char* name : {"tree/a", "tree/.hidden", "tree/sub/b", "tree/sub/deeper/c"})
        env.writeFile(QLatin1String(name), "x");
    env.makeFolder(QStringLiteral("tree/empty"));
    QCOMPARE(sorted(FindFiles(root + QLatin1Char('/'), QString())),
             (QStringList{root + QStringLiteral("/.hidden"), root + QStringLiteral("/a"),
                          root + QStringLiteral("/sub/b"), root + QStringLiteral("/sub/deeper/c")}));
}

void tst_Messages::findFilesStopsTheFolderAtTheFirstMatchingFile() {
    TestEnvironment env;
    const QString root = env.makeFolder(QStringLiteral("tree"));
    env.writeFile(QStringLiteral("tree/top.udl"), "x");
    env.writeFile(QStringLiteral("tree/sub/inner.udl"), "x");
    env.writeFile(QStringLiteral("tree/other/none.txt"), "x");
    env.writeFile(QStringLiteral("tree/only-folders/sub/deep.udl"), "x");

    // A subfolder listed after the first file of its folder is not visited.
    QStringList order;
    QVERIFY(platform::forEachEntryName(
        root, [&order](QByteArrayView name) { order.append(QString::fromUtf8(name)); }));
    QStringList expected{root + QStringLiteral("/top.udl")};
    for (const QString& folder : {QStringLiteral("sub"), QStringLiteral("only-folders")}) {
        if (order.indexOf(folder) < order.indexOf(QStringLiteral("top.udl")))
            expected.append(folder == QStringLiteral("sub")
                                ? root + QStringLiteral("/sub/inner.udl")
                                : root + QStringLiteral("/only-folders/sub/deep.udl"));
    }
    QCOMPARE(sorted(FindFiles(root, QStringLiteral("*.udl"))), sorted(expected));
    // A folder holding only folders is walked all the way down.
    QCOMPARE(FindFiles(root + QStringLiteral("/only-folders"), QStringLiteral("*.udl")),
             QStringList{root + QStringLiteral("/only-folders/sub/deep.udl")});
}

void tst_Messages::findFilesMatchesLikeWindows_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");
    const auto row = [](const char* name, const char* pattern, bool matches) {
        QTest::addRow("%s ~ %s", name, pattern)
            << QString::fromUtf8(name) << QString::fromUtf8(pattern) << matches;
    };
    row("X.UDL", "*.udl", true);
    row("x.udl.bak", "*.udl", false);
    row("ab.udl", "?.udl", false);
    row("abc.txt", "a?c.txt", true);
    row("abc.txt", "a*c*", true);
    row("noext", "*.*", true);
    row("noext", "noext.*", true);
    row("noext", "*.", true);
    row("a.b", "*.", false);
    row("[a].txt", "[a].txt", true);
    row("a.txt", "[a].txt", false);
    row("Åsa.udl", "åSA.UDL", true);
    row(".hidden", "*", true);
    row("x.udl", "*udl", true);
    row("x", "x?", false);
}

void tst_Messages::findFilesMatchesLikeWindows() {
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);
    TestEnvironment env;
    const QString folder = env.makeFolder(QStringLiteral("f"));
    env.writeFile(QStringLiteral("f/") + name, "x");
    QCOMPARE(FindFiles(folder, pattern),
             matches ? QStringList{folder + QLatin1Char('/') + name} : QStringList());
}

void tst_Messages::findFilesInMissingFolder() {
    TestEnvironment env;
    QCOMPARE(FindFiles(env.path(QStringLiteral("missing")), QStringLiteral("*.udl")), QStringList());
}

void tst_Messages::findFilesSurvivesLinkLoops() {
    TestEnvironment env;
    const QString root = env.makeFolder(QStringLiteral("tree"));
    env.writeFile(QStringLiteral("tree/a"), "x");
    env.makeFolder(QStringLiteral("tree/sub"));
    QVERIFY(QFile::link(root, root + QStringLiteral("/sub/back-to-top")));
    QCOMPARE(FindFiles(root, QString()), QStringList{root + QStringLiteral("/a")});
}

namespace {

// Records the boxes shown, for a child process that cannot report through QtTest.
class RecordingDialogs : public platform::DialogService {
public:
    DialogButton show(const DialogRequest& request) override {
        texts.append(request.text);
        return DialogButton::Ok;
    }
    QStringList texts;
};

// FindFiles of a tree with one readable file and one unreadable folder: 0 when it shows the
// scan failure once; otherwise a code telling what went wrong.
int scanUnreadableTree(const QString& root) {
    RecordingDialogs dialogs;
    platform::ScopedPort<platform::DialogService> scope(dialogs);
    const QStringList found = FindFiles(root, QString());
    if (dialogs.texts.size() != 1 ||
        !dialogs.texts.first().startsWith(QStringLiteral("Det gick inte att skanna efter filer!\r\r")))
        return 2;
    // The walk stops at the failure and keeps what it found before it.
    for (const QString& path : found) {
        if (path != root + QStringLiteral("/readable"))
            return 3;
    }
    return 0;
}

} // namespace

void tst_Messages::findFilesReportsUnreadableFolder() {
    TestEnvironment env;
    const QString root = env.makeFolder(QStringLiteral("tree"));
    env.writeFile(QStringLiteral("tree/readable"), "x");
    const QString locked = env.makeFolder(QStringLiteral("tree/locked"));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    if (::geteuid() != 0) {
        QCOMPARE(scanUnreadableTree(root), 0);
        return;
    }
    // Root reads every folder: the walk runs in a child process as the unprivileged "nobody".
    const auto everyoneMayEnter = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                  QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(env.root(), everyoneMayEnter));
    QVERIFY(QFile::setPermissions(root, everyoneMayEnter));
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped ? scanUnreadableTree(root) : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

void tst_Messages::workstationName_data() {
    QTest::addColumn<QString>("computerName"); // KELVO_COMPUTERNAME
    QTest::addColumn<QString>("clientName");   // CLIENTNAME
    QTest::addColumn<QString>("sshConnection");
    QTest::addColumn<QString>("expected");
    const QString ssh = QStringLiteral("127.0.0.1 50022 127.0.0.1 22");
    QTest::newRow("local") << QStringLiteral("WS-RECEPTION") << QString() << QString()
                           << QStringLiteral("WS-RECEPTION");
    QTest::newRow("override wins over a remote session")
        << QStringLiteral("WS-2") << QStringLiteral("CLIENT") << ssh << QStringLiteral("WS-2");
    QTest::newRow("remote desktop client")
        << QString() << QStringLiteral(" ROOM3 ") << QString() << QStringLiteral("ROOM3");
    QTest::newRow("client name before SSH address")
        << QString() << QStringLiteral("ROOM3") << ssh << QStringLiteral("ROOM3");
    QTest::newRow("SSH client resolved") << QString() << QString() << ssh << QStringLiteral("LOCALHOST");
    QTest::newRow("blank client name, SSH address")
        << QString() << QStringLiteral("  ") << ssh << QStringLiteral("LOCALHOST");
    QTest::newRow("SSH address without a name")
        << QString() << QString() << QStringLiteral("192.0.2.7 50022 192.0.2.1 22")
        << QStringLiteral("192.0.2.7");
}

void tst_Messages::workstationName() {
    QFETCH(QString, computerName);
    QFETCH(QString, clientName);
    QFETCH(QString, sshConnection);
    QFETCH(QString, expected);
    TestEnvironment env(computerName);
    env.setVariable("CLIENTNAME", clientName);
    env.setVariable("SSH_CONNECTION", sshConnection);
    env.setVariable("SSH_CLIENT", QString());
    ScriptedDialogs noMessages;
    QCOMPARE(GetWorkstationName(), expected);
}

void tst_Messages::workstationNameDoubleFailure() {
    TestEnvironment env{QString()};
    env.setVariable("CLIENTNAME", QStringLiteral("   "));
    env.setVariable("SSH_CONNECTION", QString());
    env.setVariable("SSH_CLIENT", QString());
    ScriptedDialogs dialogs;
    dialogs.expectExactly(
        DialogKind::Error,
        QStringLiteral("Det gick inte att hämta datornamnet i fjärrsessionen!\r\r"
                       "Citrix: CLIENTNAME holds only blanks\r"
                       "TerminalServer: SSH_CONNECTION and SSH_CLIENT name no client address"));
    QCOMPARE(GetWorkstationName(), QString());
}

void tst_Messages::computerNameOfHost_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("name");
    QTest::newRow("short") << QStringLiteral("xray-1") << QStringLiteral("XRAY-1");
    QTest::newRow("domain dropped") << QStringLiteral("pc7.clinic.example") << QStringLiteral("PC7");
    QTest::newRow("15 characters at most")
        << QStringLiteral("reception-workstation.example") << QStringLiteral("RECEPTION-WORKS");
}

void tst_Messages::computerNameOfHost() {
    QFETCH(QString, host);
    QFETCH(QString, name);
    QCOMPARE(platform::ComputerNameOfHost(host), name);
}

QTEST_MAIN(tst_Messages)
#include "tst_messages.moc"
