// The settings window: its layout, the restored and stored format and sound choices, the
// search, the register buttons and the removal of a device's locks.

#include "SettingsFixture.h"

#include "support/ScriptedDialogs.h"
#include "tools/KelvoSettings.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace settingsfixture;
using platform::DialogButton;
using platform::DialogKind;

namespace {

const QString kXRay = QStringLiteral("XRay");

QString xraySetting(const QString& key) {
    return ReadSetting(kXRay, key);
}

// Stores a setting, or leaves it missing when `value` is null.
void storeOrLeave(const QString& key, const QString& value) {
    if (!value.isNull())
        WriteSetting(kXRay, key, value);
}

// What the window asks of the main window.
struct MainWindowStandIn {
    int scans = 0;
    QList<bool> preview;
    TSettingsLinks links() {
        TSettingsLinks links;
        links.ScanImage = [this] { ++scans; };
        links.SetPreviewEnabled = [this](bool enabled) { preview.append(enabled); };
        return links;
    }
};

QRadioButton* formatButton(const TfrmSettings& window, const QString& caption) {
    for (QRadioButton* button : {window.RadioButton1, window.RadioButton2, window.RadioButton3,
                                 window.RadioButton4, window.RadioButton5}) {
        if (button->text() == caption)
            return button;
    }
    qFatal("no button %s", qPrintable(caption));
}

QString checkedOf(const QList<QRadioButton*>& buttons) {
    QStringList checked;
    for (const QRadioButton* button : buttons) {
        if (button->isChecked())
            checked.append(button->text());
    }
    return checked.join(QLatin1Char('+'));
}

} // namespace

class TestSettingsWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_pg.create(QStringLiteral("settingswindow")); }

    void layoutAndCaptions();
    void restoredChoices_data();
    void restoredChoices();
    void formatClicks_data();
    void formatClicks();
    void formatButtonsWaitWhileTheDeviceListChanges();
    void soundBoxes_data();
    void soundBoxes();
    void search_data();
    void search();
    void editAndDeleteFollowRows_data() { engineRows(); }
    void editAndDeleteFollowRows();
    void removeAllLocks_data();
    void removeAllLocks();
    void gridRowIsTheCurrentRecord();

private:
    bool prepareEngine() { return currentEngine() != kPostgres || m_pg.prepare(); }

    PgDatabase m_pg;
};

void TestSettingsWindow::layoutAndCaptions() {
    Installation installation;
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);

    QCOMPARE(window.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(window.size(), QSize(461, 352));
    QCOMPARE(window.GroupBox2->title(), QStringLiteral("Current DataProvider"));
    // No stored default yet: the label keeps its design caption until the first connect.
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("(ingen vald)"));
    QCOMPARE(window.lblDataProvider->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(window.BitBtn3->text(), QStringLiteral("Select..."));
    QCOMPARE(window.BitBtn1->text(), QStringLiteral("Connect"));
    QCOMPARE(window.GroupBox1->title(), QStringLiteral("Xraystations and workstations"));
    QCOMPARE(window.BitBtn42->text(), QStringLiteral("Add..."));
    QCOMPARE(window.BitBtn44->text(), QStringLiteral("Edit..."));
    QCOMPARE(window.BitBtn89->text(), QStringLiteral("Delete..."));
    QCOMPARE(window.Edit1->placeholderText(), QStringLiteral("(Search)"));
    QCOMPARE(window.Edit1->text(), QString());
    QCOMPARE(window.GroupBox3->title(), QStringLiteral("Filetype"));
    QCOMPARE(window.GroupBox4->title(), QStringLiteral("Sound"));
    QCOMPARE(window.CheckBox1->text(), QStringLiteral("Play sound when scanner is ready"));
    QCOMPARE(window.CheckBox2->text(), QStringLiteral("Toto - Oneshot"));
    QCOMPARE(window.CheckBox2->toolTip(),
             QStringLiteral("When using Digora Toto, close after every new image"));
    QCOMPARE(window.BitBtn2->text(), QStringLiteral("Return"));
    QCOMPARE(window.Removealllocksonselecteddevice1->text(),
             QStringLiteral("Remove all locks on selected device"));
    QCOMPARE(window.PopupMenu1->actions().size(), 1);

    // The cover lies over the register, in front of it.
    const auto* cover = qobject_cast<QLabel*>(window.Panel3);
    QVERIFY(cover);
    QCOMPARE(cover->text(), QStringLiteral("Connect to database"));
    QCOMPARE(window.Panel3->geometry(), window.GroupBox1->geometry());
    QVERIFY(window.children().indexOf(window.Panel3) > window.children().indexOf(window.GroupBox1));

    QCOMPARE(window.wwDBGrid1->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(window.wwDBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Return hides the window; it lives on as the data module.
    window.show();
    window.BitBtn2->click();
    QVERIFY(window.isHidden());
    QVERIFY(window.Database().Database1);
    QCOMPARE(window.Database().Database1->Name(), QStringLiteral("Database1"));
    QCOMPARE(window.Database().Database1->parent()->objectName(), QStringLiteral("frmSettings"));
}

void TestSettingsWindow::restoredChoices_data() {
    QTest::addColumn<QString>("storedType");  // null: missing
    QTest::addColumn<QString>("storedDepth"); // null: missing
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("depth");

    QTest::newRow("DCM and 16") << QStringLiteral("DCM") << QStringLiteral("16") << QStringLiteral("DCM")
                                << QStringLiteral("16 bits");
    QTest::newRow("RAW and 8") << QStringLiteral("RAW") << QStringLiteral("8") << QStringLiteral("RAW")
                               << QStringLiteral("8 bits");
    QTest::newRow("DIB and 16") << QStringLiteral("DIB") << QStringLiteral("16") << QStringLiteral("DIB")
                                << QStringLiteral("16 bits");
    QTest::newRow("missing") << QString() << QString() << QStringLiteral("DIB") << QStringLiteral("8 bits");
    QTest::newRow("unknown type and depth")
        << QStringLiteral("TIF") << QStringLiteral("12") << QStringLiteral("DIB") << QStringLiteral("8 bits");
    QTest::newRow("other spelling") << QStringLiteral("raw") << QStringLiteral("16.0")
                                    << QStringLiteral("DIB") << QStringLiteral("8 bits");
}

void TestSettingsWindow::restoredChoices() {
    QFETCH(QString, storedType);
    QFETCH(QString, storedDepth);
    QFETCH(QString, type);
    QFETCH(QString, depth);
    Installation installation;
    storeOrLeave(QStringLiteral("FileTypeExt"), storedType);
    storeOrLeave(QStringLiteral("FileTypeBits"), storedDepth);
    ScriptedDialogs dialogs;
    MainWindowStandIn main;

    TfrmSettings window(installation.database, main.links());

    QCOMPARE(checkedOf({window.RadioButton3, window.RadioButton4, window.RadioButton5}), type);
    QCOMPARE(checkedOf({window.RadioButton1, window.RadioButton2}), depth);
    // Creation leaves the enabled states as designed, and neither stores nor arms.
    QVERIFY(!window.RadioButton2->isEnabled());
    QCOMPARE(main.scans, 0);
    QVERIFY(main.preview.isEmpty());
    QCOMPARE(xraySetting(QStringLiteral("FileTypeExt")), storedType.isNull() ? kMissingSetting : storedType);
    QCOMPARE(xraySetting(QStringLiteral("FileTypeBits")),
             storedDepth.isNull() ? kMissingSetting : storedDepth);
}

void TestSettingsWindow::formatClicks_data() {
    QTest::addColumn<QString>("storedType");
    QTest::addColumn<QString>("storedDepth");
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("type");  // stored afterwards
    QTest::addColumn<QString>("depth"); // stored afterwards
    QTest::addColumn<int>("scans");
    QTest::addColumn<bool>("sixteenEnabled");
    QTest::addColumn<QString>("checkedDepth");
    QTest::addColumn<QList<bool>>("preview");

    QTest::newRow("DIB while 16 bits")
        << QStringLiteral("DCM") << QStringLiteral("16") << QStringList{QStringLiteral("DIB")}
        << QStringLiteral("DIB") << QStringLiteral("8") << 2 << false << QStringLiteral("8 bits")
        << QList<bool>{true};
    QTest::newRow("RAW from DIB") << QStringLiteral("DIB") << QStringLiteral("8")
                                  << QStringList{QStringLiteral("RAW")} << QStringLiteral("RAW")
                                  << QStringLiteral("8") << 1 << true << QStringLiteral("8 bits")
                                  << QList<bool>{false};
    QTest::newRow("DCM, 16 bits, RAW")
        << QString() << QString()
        << QStringList{QStringLiteral("DCM"), QStringLiteral("16 bits"), QStringLiteral("RAW")}
        << QStringLiteral("RAW") << QStringLiteral("16") << 3 << true << QStringLiteral("16 bits")
        << QList<bool>{false, false};
    QTest::newRow("16 bits disabled at start")
        << QStringLiteral("DCM") << QStringLiteral("8") << QStringList{QStringLiteral("16 bits")}
        << QStringLiteral("DCM") << QStringLiteral("8") << 0 << false << QStringLiteral("8 bits")
        << QList<bool>{};
    QTest::newRow("checked button again")
        << QStringLiteral("DIB") << QStringLiteral("8")
        << QStringList{QStringLiteral("DIB"), QStringLiteral("8 bits")} << QStringLiteral("DIB")
        << QStringLiteral("8") << 0 << false << QStringLiteral("8 bits") << QList<bool>{};
}

void TestSettingsWindow::formatClicks() {
    QFETCH(QString, storedType);
    QFETCH(QString, storedDepth);
    QFETCH(QStringList, clicks);
    QFETCH(QString, type);
    QFETCH(QString, depth);
    QFETCH(int, scans);
    QFETCH(bool, sixteenEnabled);
    QFETCH(QString, checkedDepth);
    QFETCH(QList<bool>, preview);
    Installation installation;
    storeOrLeave(QStringLiteral("FileTypeExt"), storedType);
    storeOrLeave(QStringLiteral("FileTypeBits"), storedDepth);
    ScriptedDialogs dialogs;
    MainWindowStandIn main;
    TfrmSettings window(installation.database, main.links());
    window.show();

    for (const QString& caption : clicks)
        formatButton(window, caption)->click();

    QCOMPARE(xraySetting(QStringLiteral("FileTypeExt")), type);
    QCOMPARE(xraySetting(QStringLiteral("FileTypeBits")), depth);
    QCOMPARE(main.scans, scans);
    QCOMPARE(window.RadioButton2->isEnabled(), sixteenEnabled);
    QCOMPARE(checkedOf({window.RadioButton1, window.RadioButton2}), checkedDepth);
    QCOMPARE(main.preview, preview);
    // The main window arms its scans with the format the buttons show.
    const TImageFormat format = window.ImageFormat();
    QCOMPARE(format.Depth,
             checkedDepth == QStringLiteral("16 bits") ? ImageDepth::Bits16 : ImageDepth::Bits8);
    const QString checkedType = checkedOf({window.RadioButton3, window.RadioButton4, window.RadioButton5});
    QCOMPARE(format.FileType, checkedType == QStringLiteral("RAW")   ? ImageFileType::RAW
                              : checkedType == QStringLiteral("DCM") ? ImageFileType::DCM
                                                                     : ImageFileType::DIB);
}

// While the device list is being changed, a format click is ignored: nothing is stored or
// armed, and the dependent states stay.
void TestSettingsWindow::formatButtonsWaitWhileTheDeviceListChanges() {
    Installation installation;
    ScriptedDialogs dialogs;
    MainWindowStandIn main;
    bool listUpdating = true;
    TSettingsLinks links = main.links();
    links.DeviceListUpdating = [&listUpdating] { return listUpdating; };
    TfrmSettings window(installation.database, links);
    window.show();

    formatButton(window, QStringLiteral("RAW"))->click();
    QCOMPARE(xraySetting(QStringLiteral("FileTypeExt")), kMissingSetting);
    QCOMPARE(main.scans, 0);
    QVERIFY(!window.RadioButton2->isEnabled());

    listUpdating = false;
    formatButton(window, QStringLiteral("DCM"))->click();
    QCOMPARE(xraySetting(QStringLiteral("FileTypeExt")), QStringLiteral("DCM"));
    QCOMPARE(main.scans, 1);
    QVERIFY(window.RadioButton2->isEnabled());
}

void TestSettingsWindow::soundBoxes_data() {
    QTest::addColumn<QString>("storedSound");
    QTest::addColumn<QString>("storedOneShot");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<bool>("oneShot");
    QTest::addColumn<QString>("soundAfter");
    QTest::addColumn<QString>("oneShotAfter");

    const QString yes = QStringLiteral("-1");
    QTest::newRow("first start") << QString() << QString() << true << true << yes << yes;
    QTest::newRow("both off") << QStringLiteral("0") << QStringLiteral("0") << false << false
                              << QStringLiteral("0") << QStringLiteral("0");
    QTest::newRow("true texts") << QStringLiteral("1") << QStringLiteral("TRUE") << true << true << yes
                                << yes;
    QTest::newRow("false text, unknown text") << QStringLiteral("false") << QStringLiteral("maybe") << false
                                              << true << QStringLiteral("false") << yes;
}

void TestSettingsWindow::soundBoxes() {
    QFETCH(QString, storedSound);
    QFETCH(QString, storedOneShot);
    QFETCH(bool, sound);
    QFETCH(bool, oneShot);
    QFETCH(QString, soundAfter);
    QFETCH(QString, oneShotAfter);
    Installation installation;
    storeOrLeave(QStringLiteral("PlaySoundWhenScannerIsReady"), storedSound);
    storeOrLeave(QStringLiteral("TotoOneShot"), storedOneShot);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);

    QCOMPARE(window.CheckBox1->isChecked(), sound);
    QCOMPARE(window.CheckBox2->isChecked(), oneShot);
    QCOMPARE(xraySetting(QStringLiteral("PlaySoundWhenScannerIsReady")), soundAfter);
    QCOMPARE(xraySetting(QStringLiteral("TotoOneShot")), oneShotAfter);

    window.show();
    window.CheckBox1->click();
    window.CheckBox2->click();
    QCOMPARE(xraySetting(QStringLiteral("PlaySoundWhenScannerIsReady")),
             sound ? QStringLiteral("0") : QStringLiteral("-1"));
    QCOMPARE(xraySetting(QStringLiteral("TotoOneShot")),
             oneShot ? QStringLiteral("0") : QStringLiteral("-1"));
}

void TestSettingsWindow::search_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("computers"); // in the grid's order

    const QStringList all{QStringLiteral("PC2"), QStringLiteral("PC4"), QStringLiteral("PC3"),
                          QStringLiteral("PC1"), QStringLiteral("PC5")};
    for (const QString& engine : {kSqlite, kPostgres}) {
        const auto row = [&engine](const char* name) {
            return &(QTest::newRow(qPrintable(engine + QLatin1Char('/') + QLatin1String(name))) << engine);
        };
        *row("empty") << QString() << all;
        *row("single blank") << QStringLiteral(" ") << all;
        *row("quote") << QStringLiteral("'") << QStringList{QStringLiteral("PC1")};
        *row("quote closing the text") << QStringLiteral("' OR '1'='1") << QStringList{};
        *row("percent") << QStringLiteral("%") << QStringList{QStringLiteral("PC3")};
        *row("underscore") << QStringLiteral("_") << QStringList{QStringLiteral("PC3")};
        *row("escape character") << QStringLiteral("!") << QStringList{QStringLiteral("PC4")};
        *row("letter case") << QStringLiteral("optime")
                            << QStringList{QStringLiteral("PC2"), QStringLiteral("PC1")};
        *row("device name") << QStringLiteral("X1") << QStringList{QStringLiteral("PC5")};
    }
}

void TestSettingsWindow::search() {
    QFETCH(QString, engine);
    QFETCH(QString, text);
    QFETCH(QStringList, computers);
    if (!prepareEngine())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"), installation.connectionString(engine, m_pg));
    auto other = installation.connect(engine, m_pg);
    createTables(*other);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora OPTIME"), QStringLiteral("OPT'1"),
                  QStringLiteral("D station"));
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Digora OPTIME"), QStringLiteral("OPT2"),
                  QStringLiteral("A station"));
    insertStation(*other, QStringLiteral("PC3"), QStringLiteral("Cranex 100%"), QStringLiteral("CX_1"),
                  QStringLiteral("C station"));
    insertStation(*other, QStringLiteral("PC4"), QStringLiteral("Sopix"), QStringLiteral("S!1"),
                  QStringLiteral("B station"));
    insertStation(*other, QStringLiteral("PC5"), QStringLiteral("Sopix"), QStringLiteral("SX1"),
                  QStringLiteral("E station"));
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    window.Edit1->setText(QStringLiteral("no such station"));
    QCOMPARE(gridColumn(window, QStringLiteral("Workstationname")), QStringList{});
    window.Edit1->setText(text);

    QCOMPARE(gridColumn(window, QStringLiteral("Workstationname")), computers);
    QVERIFY(window.Database().QXRAYWORKSTATIONS->Active());
}

void TestSettingsWindow::editAndDeleteFollowRows() {
    if (!prepareEngine())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"),
                               installation.connectionString(currentEngine(), m_pg));
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());
    QVERIFY(!window.BitBtn44->isEnabled());
    QVERIFY(!window.BitBtn89->isEnabled());

    auto other = installation.connect(currentEngine(), m_pg);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room 1"));
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                  QStringLiteral("Room 2"));
    window.Edit1->setText(QStringLiteral(" "));
    QVERIFY(window.BitBtn44->isEnabled());
    QVERIFY(window.BitBtn89->isEnabled());

    window.wwDBGrid1->selectRow(1);
    dialogs.expectExactly(DialogKind::Question, QStringLiteral("Delete selected Xraystation/Workstation?"),
                          DialogButton::No);
    window.BitBtn89->click();
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 2);

    dialogs.expect(QStringLiteral("Delete selected"), DialogButton::Yes);
    window.BitBtn89->click();
    QVERIFY(dialogs.allAnswered());
    QCOMPARE(dialogs.shown().last().title, QStringLiteral("Fråga"));
    // Committed: another workstation sees the row gone.
    QCOMPARE(scalar(*other, QStringLiteral("SELECT STATIONID FROM XRAYWORKSTATIONS")).toString(),
             QStringLiteral("Room 1"));
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 1);
    QVERIFY(window.Database().Database1->InTransaction());
    QVERIFY(window.BitBtn89->isEnabled());

    dialogs.expect(QStringLiteral("Delete selected"), DialogButton::Yes);
    window.BitBtn89->click();
    QVERIFY(!window.BitBtn44->isEnabled());
    QVERIFY(!window.BitBtn89->isEnabled());
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 0);
}

void TestSettingsWindow::removeAllLocks_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<int>("locksLeft");

    for (const QString& engine : {kSqlite, kPostgres}) {
        QTest::newRow(qPrintable(engine + QStringLiteral("/yes")))
            << engine << QStringLiteral("OPT1") << true << 1;
        QTest::newRow(qPrintable(engine + QStringLiteral("/quote in the name")))
            << engine << QStringLiteral("OPT'1") << true << 1;
        QTest::newRow(qPrintable(engine + QStringLiteral("/no")))
            << engine << QStringLiteral("OPT1") << false << 3;
    }
}

void TestSettingsWindow::removeAllLocks() {
    QFETCH(QString, engine);
    QFETCH(QString, device);
    QFETCH(bool, confirm);
    const DialogButton answer = confirm ? DialogButton::Yes : DialogButton::No;
    QFETCH(int, locksLeft);
    if (!prepareEngine())
        return;
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"), installation.connectionString(engine, m_pg));
    auto other = installation.connect(engine, m_pg);
    createTables(*other);
    const QString station = QStringLiteral("Digora OPTIME");
    insertStation(*other, QStringLiteral("PC1"), station, device, QStringLiteral("Room 1"));
    insertLock(*other, QStringLiteral("PC1"), station, device, 1);
    insertLock(*other, QStringLiteral("PC2"), station, device, 2);
    insertLock(*other, QStringLiteral("PC2"), station, QStringLiteral("OPT9"), 1);
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());

    dialogs.expectExactly(DialogKind::Question,
                          QStringLiteral("Warning! This will make the device open for all connections!\r\r"
                                         "Remove all current locks on ") +
                              station + QStringLiteral(" - ") + device + QStringLiteral("?"),
                          answer);
    if (confirm)
        dialogs.expectExactly(DialogKind::Warning, QStringLiteral("Device unlocked. Press OK to Confirm."));
    window.Removealllocksonselecteddevice1->trigger();

    QVERIFY(dialogs.allAnswered());
    // What the message says holds for every workstation: the removal is committed.
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST")).toInt(), locksLeft);
    QCOMPARE(
        scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST WHERE XRAYSTATIONID = 'OPT9'"))
            .toInt(),
        1);
    QVERIFY(window.Database().Database1->InTransaction());
    window.Database().Database1->RollbackTrans();
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYDEVICELOCKLIST")).toInt(), locksLeft);
}

void TestSettingsWindow::gridRowIsTheCurrentRecord() {
    Installation installation;
    installation.writeDataLink(QStringLiteral("Practice.udl"), installation.sqliteConnectionString());
    auto other = installation.connect(kSqlite, m_pg);
    createTables(*other);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room 1"));
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                  QStringLiteral("Room 2"));
    ScriptedDialogs dialogs;
    TfrmSettings window(installation.database);
    QVERIFY(window.ConnectToDatabase());
    QCOMPARE(window.wwDBGrid1->currentIndex().row(), 0);

    window.wwDBGrid1->selectRow(1);
    QCOMPARE(window.Database().QXRAYWORKSTATIONS->RecNo(), 2);
    window.Database().QXRAYWORKSTATIONS->First();
    QCOMPARE(window.wwDBGrid1->currentIndex().row(), 0);
    QCOMPARE(window.wwDBGrid1->horizontalHeader()->defaultAlignment(), Qt::AlignLeft | Qt::AlignVCenter);
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
