// The settings window: its layout, the restored and stored format and sound choices, the
// search, the register buttons and the removal of a device's locks.

#include "SettingsFixture.h"

#include "support/DesignerNames.h"
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
    for (QRadioButton* button :
         {window.Bits8Button, window.Bits16Button, window.DibButton, window.DcmButton, window.RawButton}) {
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
    QCOMPARE(window.DataProviderGroup->title(), QStringLiteral("Current DataProvider"));
    // No stored default yet: the label keeps its design caption until the first connect.
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("(ingen vald)"));
    QCOMPARE(window.lblDataProvider->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QCOMPARE(window.SelectButton->text(), QStringLiteral("Select..."));
    QCOMPARE(window.ConnectButton->text(), QStringLiteral("Connect"));
    QCOMPARE(window.RegisterGroup->title(), QStringLiteral("Xraystations and workstations"));
    QCOMPARE(window.AddButton->text(), QStringLiteral("Add..."));
    QCOMPARE(window.EditButton->text(), QStringLiteral("Edit..."));
    QCOMPARE(window.DeleteButton->text(), QStringLiteral("Delete..."));
    QCOMPARE(window.SearchEdit->placeholderText(), QStringLiteral("(Search)"));
    QCOMPARE(window.SearchEdit->text(), QString());
    QCOMPARE(window.FileTypeGroup->title(), QStringLiteral("Filetype"));
    QCOMPARE(window.SoundGroup->title(), QStringLiteral("Sound"));
    QCOMPARE(window.PlaySoundCheckBox->text(), QStringLiteral("Play sound when scanner is ready"));
    QCOMPARE(window.TotoOneShotCheckBox->text(), QStringLiteral("Toto - Oneshot"));
    QCOMPARE(window.TotoOneShotCheckBox->toolTip(),
             QStringLiteral("When using Digora Toto, close after every new image"));
    QCOMPARE(window.ReturnButton->text(), QStringLiteral("Return"));
    QCOMPARE(window.RemoveAllLocksAction->text(), QStringLiteral("Remove all locks on selected device"));
    QCOMPARE(window.RegisterMenu->actions().size(), 1);

    // The cover lies over the register, in front of it.
    const auto* cover = qobject_cast<QLabel*>(window.ConnectCover);
    QVERIFY(cover);
    QCOMPARE(cover->text(), QStringLiteral("Connect to database"));
    QCOMPARE(window.ConnectCover->geometry(), window.RegisterGroup->geometry());
    QVERIFY(window.children().indexOf(window.ConnectCover) > window.children().indexOf(window.RegisterGroup));

    verifyDesignerNames(window, {{"GroupBox2", window.DataProviderGroup},
                                 {"BitBtn3", window.SelectButton},
                                 {"BitBtn1", window.ConnectButton},
                                 {"GroupBox1", window.RegisterGroup},
                                 {"BitBtn42", window.AddButton},
                                 {"BitBtn44", window.EditButton},
                                 {"Edit1", window.SearchEdit},
                                 {"BitBtn89", window.DeleteButton},
                                 {"wwDBGrid1", window.RegisterGrid},
                                 {"DataSource1", window.RegisterModel},
                                 {"PopupMenu1", window.RegisterMenu},
                                 {"Removealllocksonselecteddevice1", window.RemoveAllLocksAction},
                                 {"Panel3", window.ConnectCover},
                                 {"GroupBox3", window.FileTypeGroup},
                                 {"RadioButton1", window.Bits8Button},
                                 {"RadioButton2", window.Bits16Button},
                                 {"RadioButton3", window.DibButton},
                                 {"RadioButton4", window.DcmButton},
                                 {"RadioButton5", window.RawButton},
                                 {"GroupBox4", window.SoundGroup},
                                 {"CheckBox1", window.PlaySoundCheckBox},
                                 {"CheckBox2", window.TotoOneShotCheckBox},
                                 {"BitBtn2", window.ReturnButton}});

    QCOMPARE(window.RegisterGrid->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(window.RegisterGrid->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Return hides the window; it lives on as the data module.
    window.show();
    window.ReturnButton->click();
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

    QCOMPARE(checkedOf({window.DibButton, window.DcmButton, window.RawButton}), type);
    QCOMPARE(checkedOf({window.Bits8Button, window.Bits16Button}), depth);
    // Creation leaves the enabled states as designed, and neither stores nor arms.
    QVERIFY(!window.Bits16Button->isEnabled());
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
    QCOMPARE(window.Bits16Button->isEnabled(), sixteenEnabled);
    QCOMPARE(checkedOf({window.Bits8Button, window.Bits16Button}), checkedDepth);
    QCOMPARE(main.preview, preview);
    // The main window arms its scans with the format the buttons show.
    const TImageFormat format = window.ImageFormat();
    QCOMPARE(format.Depth,
             checkedDepth == QStringLiteral("16 bits") ? ImageDepth::Bits16 : ImageDepth::Bits8);
    const QString checkedType = checkedOf({window.DibButton, window.DcmButton, window.RawButton});
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
    QVERIFY(!window.Bits16Button->isEnabled());

    listUpdating = false;
    formatButton(window, QStringLiteral("DCM"))->click();
    QCOMPARE(xraySetting(QStringLiteral("FileTypeExt")), QStringLiteral("DCM"));
    QCOMPARE(main.scans, 1);
    QVERIFY(window.Bits16Button->isEnabled());
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

    QCOMPARE(window.PlaySoundCheckBox->isChecked(), sound);
    QCOMPARE(window.TotoOneShotCheckBox->isChecked(), oneShot);
    QCOMPARE(xraySetting(QStringLiteral("PlaySoundWhenScannerIsReady")), soundAfter);
    QCOMPARE(xraySetting(QStringLiteral("TotoOneShot")), oneShotAfter);

    window.show();
    window.PlaySoundCheckBox->click();
    window.TotoOneShotCheckBox->click();
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

    window.SearchEdit->setText(QStringLiteral("no such station"));
    QCOMPARE(gridColumn(window, QStringLiteral("Workstationname")), QStringList{});
    window.SearchEdit->setText(text);

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
    QVERIFY(!window.EditButton->isEnabled());
    QVERIFY(!window.DeleteButton->isEnabled());

    auto other = installation.connect(currentEngine(), m_pg);
    insertStation(*other, QStringLiteral("PC1"), QStringLiteral("Digora"), QStringLiteral("D1"),
                  QStringLiteral("Room 1"));
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("Sopix"), QStringLiteral("S1"),
                  QStringLiteral("Room 2"));
    window.SearchEdit->setText(QStringLiteral(" "));
    QVERIFY(window.EditButton->isEnabled());
    QVERIFY(window.DeleteButton->isEnabled());

    window.RegisterGrid->selectRow(1);
    dialogs.expectExactly(DialogKind::Question, QStringLiteral("Delete selected Xraystation/Workstation?"),
                          DialogButton::No);
    window.DeleteButton->click();
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 2);

    dialogs.expect(QStringLiteral("Delete selected"), DialogButton::Yes);
    window.DeleteButton->click();
    QVERIFY(dialogs.allAnswered());
    QCOMPARE(dialogs.shown().last().title, QStringLiteral("Fråga"));
    // Committed: another workstation sees the row gone.
    QCOMPARE(scalar(*other, QStringLiteral("SELECT STATIONID FROM XRAYWORKSTATIONS")).toString(),
             QStringLiteral("Room 1"));
    QCOMPARE(scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS")).toInt(), 1);
    QVERIFY(window.Database().Database1->InTransaction());
    QVERIFY(window.DeleteButton->isEnabled());

    dialogs.expect(QStringLiteral("Delete selected"), DialogButton::Yes);
    window.DeleteButton->click();
    QVERIFY(!window.EditButton->isEnabled());
    QVERIFY(!window.DeleteButton->isEnabled());
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
    window.RemoveAllLocksAction->trigger();

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
    QCOMPARE(window.RegisterGrid->currentIndex().row(), 0);

    window.RegisterGrid->selectRow(1);
    QCOMPARE(window.Database().QXRAYWORKSTATIONS->RecNo(), 2);
    window.Database().QXRAYWORKSTATIONS->First();
    QCOMPARE(window.RegisterGrid->currentIndex().row(), 0);
    QCOMPARE(window.RegisterGrid->horizontalHeader()->defaultAlignment(), Qt::AlignLeft | Qt::AlignVCenter);
}

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
