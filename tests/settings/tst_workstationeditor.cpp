// The workstation editor, opened from the settings window as the user opens it ("Add...",
// "Edit...", a double click on the grid) and driven as a modal dialog: its layout, storing
// a row, a refused row, "Get computername", removing a device's locks and cancelling.

#include "SettingsFixture.h"

#include "settings/UXrayWorkstation.h"
#include "support/DesignerNames.h"
#include "support/ScriptedDialogs.h"
#include "tools/KelvoMessages.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace settingsfixture;
using platform::DialogButton;
using platform::DialogKind;

Q_DECLARE_METATYPE(TDataSetState)
Q_DECLARE_METATYPE(platform::DialogButton)

namespace {

const QString kLocksWarning = QStringLiteral(
    "Warning! This will make the device open for all connections!\r\rRemove all current locks?");
const QString kUnlocked = QStringLiteral("Device unlocked. Press OK to Confirm.");
const QString kSaveFailed = QStringLiteral("An error occurred while saving!\r\r");
const QString kUnlockFailed =
    QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r");

using EditorActions = std::function<void(TfrmEditXrayWorkstation&)>;

// Plays the user's part in the workstation editor as soon as it is the active modal window,
// and remembers how it was closed. An editor left open by failed checks is rejected, so
// that a failing test does not hang in the modal loop.
class EditorScript {
public:
    explicit EditorScript(EditorActions actions)
        : m_actions(std::move(actions)) {
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { act(); });
        m_poll.start(5);
    }

    bool ran() const { return m_ran; }
    int result() const { return m_result; }

private:
    void act() {
        auto* editor = qobject_cast<TfrmEditXrayWorkstation*>(QApplication::activeModalWidget());
        if (!editor || !editor->isVisible())
            return;
        m_poll.stop();
        m_ran = true;
        QObject::connect(editor, &QDialog::finished, editor, [this](int result) { m_result = result; });
        m_actions(*editor);
        if (editor->isVisible())
            editor->reject();
    }

    EditorActions m_actions;
    QTimer m_poll;
    bool m_ran = false;
    int m_result = -1;
};

void type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// A station as the editor's fields hold it.
struct Station {
    QString xraystation;
    QString uniqueName;
    QString computer;
    QString workstation;
    QString address;
};

void fill(TfrmEditXrayWorkstation& editor, const Station& station) {
    type(editor.StationNameEdit, station.xraystation);
    type(editor.UniqueNameEdit, station.uniqueName);
    type(editor.ComputerNameEdit, station.computer);
    type(editor.WorkstationNameEdit, station.workstation);
    type(editor.IpAddressEdit, station.address);
}

QString captionOf(const TfrmEditXrayWorkstation& editor, const QWidget* edit) {
    for (const QLabel* label : editor.findChildren<QLabel*>()) {
        if (label->buddy() == edit)
            return label->text();
    }
    return {};
}

// The stored rows of the register, "COMPUTERNAME/XRAYSTATION/XRAYSTATIONID/STATIONID/IPADRESS",
// as another workstation sees them.
QStringList storedStations(TADOConnection& connection) {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL()->Add(QStringLiteral("SELECT COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, STATIONID, IPADRESS "
                                    "FROM XRAYWORKSTATIONS ORDER BY STATIONID"));
    query.Open();
    QStringList rows;
    for (; !query.Eof(); query.Next()) {
        QStringList values;
        for (int i = 0; i < query.FieldCount(); ++i)
            values.append(query.Fields(i).IsNull() ? QStringLiteral("NULL") : query.Fields(i).AsString());
        rows.append(values.join(QLatin1Char('/')));
    }
    return rows;
}

int lockCount(TADOConnection& connection, const QString& station, const QString& device) {
    return scalar(connection,
                  QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST WHERE XRAYSTATION = :s "
                                 "AND XRAYSTATIONID = :d"),
                  {{QStringLiteral("s"), station}, {QStringLiteral("d"), device}})
        .toInt();
}

} // namespace

class TestWorkstationEditor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_pg.create(QStringLiteral("workstationeditor")); }

    void layout();
    void addStation_data();
    void addStation();
    void getComputerName_data() { engineRows(); }
    void getComputerName();
    void removeLocks_data();
    void removeLocks();
    void closeWithoutSaving_data();
    void closeWithoutSaving();
    void doubleClickOnGrid_data();
    void doubleClickOnGrid();

private:
    bool prepareEngine() { return currentEngine() != kPostgres || m_pg.prepare(); }
    // Writes the practice's data-link file and creates the tables; answers a connection of
    // another workstation to the same database.
    std::unique_ptr<TADOConnection> preparePractice(Installation& installation) {
        installation.writeDataLink(QStringLiteral("Practice.udl"),
                                   installation.connectionString(currentEngine(), m_pg));
        auto other = installation.connect(currentEngine(), m_pg);
        createTables(*other);
        return other;
    }

    PgDatabase m_pg;
};

void TestWorkstationEditor::layout() {
    Installation installation;
    TfrmEditXrayWorkstation editor(installation.database);

    QCOMPARE(editor.windowTitle(), QStringLiteral("Add/edit Xraystation and workstation"));
    QCOMPARE(editor.size(), QSize(452, 239));
    QCOMPARE(editor.PropertiesGroup->title(), QStringLiteral("Properties"));
    const QList<std::tuple<QLineEdit*, QString, int>> fields{
        {editor.StationNameEdit, QStringLiteral("Xraystation name:"), 30},
        {editor.UniqueNameEdit, QStringLiteral("Unique name:"), 20},
        {editor.ComputerNameEdit, QStringLiteral("Computername:"), 50},
        {editor.WorkstationNameEdit, QStringLiteral("Workstation name:"), 100},
        {editor.IpAddressEdit, QStringLiteral("IP-adress:"), 20}};
    for (const auto& [edit, caption, maxLength] : fields) {
        QCOMPARE(captionOf(editor, edit), caption);
        QCOMPARE(edit->maxLength(), maxLength);
    }
    QCOMPARE(editor.RemoveLocksButton->text(), QStringLiteral("Remove all locks on this device"));
    QCOMPARE(editor.GetComputerNameButton->text(), QStringLiteral("Get computername"));
    QCOMPARE(editor.OkButton->text(), QStringLiteral("OK"));
    QVERIFY(editor.OkButton->isDefault());
    QCOMPARE(editor.CancelButton->text(), QStringLiteral("Avbryt"));
    // "Get computername" sits on the computer name's caption line.
    const QLabel* computerCaption = nullptr;
    for (const QLabel* label : editor.findChildren<QLabel*>()) {
        if (label->buddy() == editor.ComputerNameEdit)
            computerCaption = label;
    }
    QVERIFY(computerCaption);
    QVERIFY(editor.GetComputerNameButton->geometry().left() > computerCaption->geometry().right());
    QVERIFY(editor.GetComputerNameButton->geometry().bottom() < editor.ComputerNameEdit->geometry().top());
    verifyDesignerNames(editor, {{"GroupBox1", editor.PropertiesGroup},
                                 {"wwDBEdit1", editor.ComputerNameEdit},
                                 {"wwDBEdit2", editor.StationNameEdit},
                                 {"wwDBEdit3", editor.WorkstationNameEdit},
                                 {"wwDBEdit4", editor.UniqueNameEdit},
                                 {"wwDBEdit5", editor.IpAddressEdit},
                                 {"BitBtn1", editor.OkButton},
                                 {"BitBtn2", editor.CancelButton},
                                 {"BitBtn3", editor.RemoveLocksButton},
                                 {"BitBtn4", editor.GetComputerNameButton}});

    // The tab key's order, which leaves out "Get computername".
    QList<QWidget*> tabOrder;
    QWidget* widget = editor.StationNameEdit;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabOrder.append(widget);
        widget = widget->nextInFocusChain();
    } while (widget != editor.StationNameEdit);
    const QList<QWidget*> expected{
        editor.StationNameEdit,   editor.UniqueNameEdit, editor.ComputerNameEdit, editor.WorkstationNameEdit,
        editor.RemoveLocksButton, editor.IpAddressEdit,  editor.OkButton,         editor.CancelButton};
    QCOMPARE(tabOrder, expected);
    QVERIFY(!(editor.GetComputerNameButton->focusPolicy() & Qt::TabFocus));
}

void TestWorkstationEditor::addStation_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("uniqueName");
    QTest::addColumn<bool>("refused");

    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::newRow(qPrintable(engine + QStringLiteral("/new device")))
            << engine << QStringLiteral("OPT2") << false;
        QTest::newRow(qPrintable(engine + QStringLiteral("/same computer, station and unique name")))
            << engine << QStringLiteral("OPT1") << true;
    }
}

// The new row differs from the stored one only in its unique name: two devices of the same
// model for one computer. With the same unique name it is the same device, and refused.
void TestWorkstationEditor::addStation() {
    QFETCH(QString, uniqueName);
    QFETCH(bool, refused);
    if (!prepareEngine())
        return;
    Installation installation;
    auto other = preparePractice(installation);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora OPTIME"), QStringLiteral("OPT1"),
                  QStringLiteral("Room 1"));
    insertStation(*other, QStringLiteral("PC3"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                  QStringLiteral("Room 3"));
    const QStringList before = storedStations(*other);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());
    if (refused)
        dialogs.expect(kSaveFailed);

    EditorScript script([&](TfrmEditXrayWorkstation& editor) {
        QCOMPARE(window.Database().QXRAYWORKSTATIONS->State(), TDataSetState::dsInsert);
        QCOMPARE(editor.StationNameEdit->text(), QString());
        fill(editor, {QStringLiteral("Digora OPTIME"), uniqueName, QStringLiteral("PC1"),
                      QStringLiteral("Room 2"), QStringLiteral("10.0.0.7")});
        QTest::mouseClick(editor.OkButton, Qt::LeftButton);
    });
    window.AddButton->click();

    QVERIFY(script.ran());
    QCOMPARE(script.result(), int(QDialog::Accepted));
    QVERIFY(dialogs.allAnswered());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(window.Database().QXRAYWORKSTATIONS->State(), TDataSetState::dsBrowse);
    QVERIFY(window.Database().Database1->InTransaction());
    if (refused) {
        const platform::DialogRequest& message = dialogs.shown().last();
        QCOMPARE(message.kind, DialogKind::Warning);
        // The engine's own reason follows the lead-in.
        QVERIFY2(message.text.mid(kSaveFailed.size()).contains(QStringLiteral("unique"), Qt::CaseInsensitive),
                 qPrintable(message.text));
        QCOMPARE(storedStations(*other), before);
        QCOMPARE(gridColumn(window, QStringLiteral("XraystationID")),
                 (QStringList{QStringLiteral("OPT1"), QStringLiteral("S1")}));
        // The transaction was left open and still works.
        QCOMPARE(scalar(*window.Database().Database1, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS"))
                     .toInt(),
                 2);
        return;
    }
    // Committed: another workstation sees it, and so does the register, in STATIONID order.
    QCOMPARE(
        storedStations(*other),
        (QStringList{before.at(0), QStringLiteral("PC1/Digora OPTIME/OPT2/Room 2/10.0.0.7"), before.at(1)}));
    QCOMPARE(gridColumn(window, QStringLiteral("XraystationID")),
             (QStringList{QStringLiteral("OPT1"), QStringLiteral("OPT2"), QStringLiteral("S1")}));
    QVERIFY(window.EditButton->isEnabled());
}

// "Get computername" fills in the name this workstation is known by, so that its main window
// finds the device in the register.
void TestWorkstationEditor::getComputerName() {
    if (!prepareEngine())
        return;
    Installation installation;
    installation.env.setVariable("KELVO_COMPUTERNAME", QStringLiteral("XRAYROOM4"));
    auto other = preparePractice(installation);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    EditorScript script([](TfrmEditXrayWorkstation& editor) {
        fill(editor, {QStringLiteral("Digora Toto"), QStringLiteral("TOTO1"), QString(),
                      QStringLiteral("Room 4"), QString()});
        QTest::mouseClick(editor.GetComputerNameButton, Qt::LeftButton);
        QCOMPARE(editor.ComputerNameEdit->text(), QStringLiteral("XRAYROOM4"));
        QTest::mouseClick(editor.OkButton, Qt::LeftButton);
    });
    window.AddButton->click();

    QVERIFY(script.ran());
    QCOMPARE(storedStations(*other), QStringList{QStringLiteral("XRAYROOM4/Digora Toto/TOTO1/Room 4/NULL")});
    // The main window's look-up of this computer's row for the device.
    window.Database().QXRAYDEV->Parameters().ParamByName(QStringLiteral("computername")).Value =
        GetWorkstationName();
    window.Database().QXRAYDEV->Parameters().ParamByName(QStringLiteral("xraystation")).Value =
        QStringLiteral("Digora Toto");
    window.Database().QXRAYDEV->Parameters().ParamByName(QStringLiteral("xraystationid")).Value =
        QStringLiteral("TOTO1");
    window.Database().QXRAYDEV->Open();
    QCOMPARE(window.Database().QXRAYDEV->RecordCount(), 1);
}

void TestWorkstationEditor::removeLocks_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<DialogButton>("answer");
    QTest::addColumn<bool>("lockTableGone"); // the deletion fails
    QTest::addColumn<int>("newNameLocks");   // locks of the unsaved name afterwards

    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::newRow(qPrintable(engine + QStringLiteral("/yes")))
            << engine << DialogButton::Yes << false << 0;
        QTest::newRow(qPrintable(engine + QStringLiteral("/no"))) << engine << DialogButton::No << false << 2;
        QTest::newRow(qPrintable(engine + QStringLiteral("/failure")))
            << engine << DialogButton::Yes << true << -1;
    }
}

// The station name is changed but not saved: the locks of the new name go, those of the
// stored name stay. The removal is committed at once, whatever becomes of the row.
void TestWorkstationEditor::removeLocks() {
    QFETCH(DialogButton, answer);
    QFETCH(bool, lockTableGone);
    QFETCH(int, newNameLocks);
    if (!prepareEngine())
        return;
    Installation installation;
    auto other = preparePractice(installation);
    const QString stored = QStringLiteral("Digora");
    const QString typed = QStringLiteral("Digora OPT'IME");
    const QString device = QStringLiteral("D1");
    insertStation(*other, QStringLiteral("PC1"), stored, device, QStringLiteral("Room 1"));
    insertLock(*other, QStringLiteral("PC1"), stored, device, 1);
    insertLock(*other, QStringLiteral("PC1"), typed, device, 1);
    insertLock(*other, QStringLiteral("PC2"), typed, device, 2);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());
    if (lockTableGone)
        other->Execute(QStringLiteral("DROP TABLE XRAYDEVICELOCKLIST"));
    dialogs.expectExactly(DialogKind::Question, kLocksWarning, answer);
    if (lockTableGone)
        dialogs.expect(kUnlockFailed);
    else if (answer == DialogButton::Yes)
        dialogs.expectExactly(DialogKind::Warning, kUnlocked);

    bool stayedOpen = false;
    EditorScript script([&](TfrmEditXrayWorkstation& editor) {
        QCOMPARE(editor.StationNameEdit->text(), stored);
        type(editor.StationNameEdit, typed);
        QTest::mouseClick(editor.RemoveLocksButton, Qt::LeftButton);
        stayedOpen = editor.isVisible();
        QTest::mouseClick(editor.CancelButton, Qt::LeftButton);
    });
    window.EditButton->click();

    QVERIFY(script.ran());
    QVERIFY(stayedOpen);
    QVERIFY(dialogs.allAnswered());
    QCOMPARE(dialogs.shown().first().title, QStringLiteral("Fråga"));
    QCOMPARE(storedStations(*other), QStringList{QStringLiteral("PC1/Digora/D1/Room 1/NULL")});
    QVERIFY(window.Database().Database1->InTransaction());
    if (lockTableGone) {
        const QString message = dialogs.shown().last().text;
        QVERIFY2(message.size() > kUnlockFailed.size(), qPrintable(message));
        return;
    }
    QCOMPARE(dialogs.shown().last().title,
             answer == DialogButton::Yes ? QStringLiteral("Information") : QStringLiteral("Fråga"));
    // A later rollback of the window's transaction, as the main window's look-ups do,
    // keeps what the user was told.
    window.Database().Database1->RollbackTrans();
    QCOMPARE(lockCount(*other, typed, device), newNameLocks);
    QCOMPARE(lockCount(*other, stored, device), 1);
}

void TestWorkstationEditor::closeWithoutSaving_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<bool>("add");
    QTest::addColumn<QString>("closeBy");
    QTest::addColumn<TDataSetState>("stateAfter");

    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::newRow(qPrintable(engine + QStringLiteral("/add, Avbryt")))
            << engine << true << QStringLiteral("Avbryt") << TDataSetState::dsBrowse;
        QTest::newRow(qPrintable(engine + QStringLiteral("/edit, Avbryt")))
            << engine << false << QStringLiteral("Avbryt") << TDataSetState::dsBrowse;
        QTest::newRow(qPrintable(engine + QStringLiteral("/edit, Escape")))
            << engine << false << QStringLiteral("Escape") << TDataSetState::dsBrowse;
        // The title bar's close button leaves the row as it was.
        QTest::newRow(qPrintable(engine + QStringLiteral("/edit, title bar")))
            << engine << false << QStringLiteral("close") << TDataSetState::dsEdit;
    }
}

void TestWorkstationEditor::closeWithoutSaving() {
    QFETCH(bool, add);
    QFETCH(QString, closeBy);
    QFETCH(TDataSetState, stateAfter);
    if (!prepareEngine())
        return;
    Installation installation;
    auto other = preparePractice(installation);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room 1"));
    const QStringList before = storedStations(*other);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    EditorScript script([&](TfrmEditXrayWorkstation& editor) {
        fill(editor, {QStringLiteral("Sopix"), QStringLiteral("S9"), QStringLiteral("PC9"),
                      QStringLiteral("Room 9"), QStringLiteral("10.0.0.9")});
        if (closeBy == QStringLiteral("Avbryt"))
            QTest::mouseClick(editor.CancelButton, Qt::LeftButton);
        else if (closeBy == QStringLiteral("Escape"))
            QTest::keyClick(editor.IpAddressEdit, Qt::Key_Escape);
        else
            editor.close();
    });
    (add ? window.AddButton : window.EditButton)->click();

    QVERIFY(script.ran());
    QCOMPARE(script.result(), int(QDialog::Rejected));
    QCOMPARE(window.Database().QXRAYWORKSTATIONS->State(), stateAfter);
    if (stateAfter == TDataSetState::dsBrowse)
        QCOMPARE(window.Database().QXRAYWORKSTATIONS->FieldByName(QStringLiteral("XRAYSTATION")).AsString(),
                 QStringLiteral("Digora"));
    else
        window.Database().QXRAYWORKSTATIONS->Cancel();
    QCOMPARE(gridColumn(window, QStringLiteral("Xraystation")), QStringList{QStringLiteral("Digora")});
    window.Database().Database1->CommitTrans();
    QCOMPARE(storedStations(*other), before);
}

void TestWorkstationEditor::doubleClickOnGrid_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<bool>("emptyRegister");

    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::newRow(qPrintable(engine + QStringLiteral("/empty register"))) << engine << true;
        QTest::newRow(qPrintable(engine + QStringLiteral("/on a row"))) << engine << false;
    }
}

// A double click opens the editor even while "Edit..." is disabled; on an empty register it
// starts a new row, on a row it edits that row.
void TestWorkstationEditor::doubleClickOnGrid() {
    QFETCH(bool, emptyRegister);
    if (!prepareEngine())
        return;
    Installation installation;
    auto other = preparePractice(installation);
    if (!emptyRegister) {
        insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                      QStringLiteral("Room 1"));
        insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                      QStringLiteral("Room 2"));
    }
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.EditButton->isEnabled(), !emptyRegister);

    TDataSetState state = TDataSetState::dsInactive;
    QString shownStation;
    EditorScript script([&](TfrmEditXrayWorkstation& editor) {
        state = window.Database().QXRAYWORKSTATIONS->State();
        shownStation = editor.StationNameEdit->text();
        if (emptyRegister)
            fill(editor, {QStringLiteral("Cranex D"), QStringLiteral("CD1"), QStringLiteral("PC5"),
                          QStringLiteral("Room 5"), QString()});
        else
            type(editor.WorkstationNameEdit, QStringLiteral("Room 7"));
        QTest::mouseClick(editor.OkButton, Qt::LeftButton);
    });
    // On the second row when there are rows, on the empty space below them otherwise.
    const QPoint where =
        emptyRegister ? QPoint(20, 20)
                      : window.RegisterGrid->visualRect(window.RegisterGrid->model()->index(1, 0)).center();
    // A double click arrives as a click followed by the double-click event; QTest's double
    // click sends only the latter.
    QTest::mouseClick(window.RegisterGrid->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(window.RegisterGrid->viewport(), Qt::LeftButton, {}, where);

    QVERIFY(script.ran());
    if (emptyRegister) {
        QCOMPARE(state, TDataSetState::dsInsert);
        QCOMPARE(shownStation, QString());
        QCOMPARE(storedStations(*other), QStringList{QStringLiteral("PC5/Cranex D/CD1/Room 5/NULL")});
        QVERIFY(window.EditButton->isEnabled());
        return;
    }
    QCOMPARE(state, TDataSetState::dsEdit);
    QCOMPARE(shownStation, QStringLiteral("Sopix"));
    QCOMPARE(storedStations(*other), (QStringList{QStringLiteral("PC1/Digora/D1/Room 1/NULL"),
                                                  QStringLiteral("PC2/Sopix/S1/Room 7/NULL")}));
}

QTEST_MAIN(TestWorkstationEditor)
#include "tst_workstationeditor.moc"
