#include "app/CommandLine.h"
#include "app/MainUnit.h"
#include "app/SessionEnd.h"
#include "app/UPreviewPicture.h"
#include "database/DataLinkFile.h"
#include "devices/DeviceList.h"
#include "devices/TRadioGroup.h"
#include "platform/ProfileFile.h"
#include "platform/WindowBus.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USelectDevices.h"
#include "settings/USettings.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"
#include "sim/SimulatedDsd.h"
#include "sound/WavPlayer.h"
#include "tools/ElidedText.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include "platform/QtDialogService.h"

#include "support/DesignerNames.h"
#include "support/ModalWindows.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <optional>

using platform::DialogButton;
using platform::DialogKind;

namespace {

// The journal program: a window on the bus that notes every message it is sent.
class TestHost {
public:
    TestHost() {
        platform::WindowDefinition definition;
        definition.className = QStringLiteral("TJournal");
        definition.title = QStringLiteral("Journal");
        definition.handler = [this](quint32 msg, qint64 wParam, qint64) {
            received.append(platform::windowBus().messageName(msg) + QLatin1Char(' ') +
                            QString::number(wParam));
            return qint64(0);
        };
        m_registration = platform::windowBus().registerWindow(definition);
    }
    QString handleArgument() const {
        return QStringLiteral("HWND=") + QString::number(m_registration->handle());
    }

    QStringList received;

private:
    std::unique_ptr<platform::WindowRegistration> m_registration;
};

// Presses the button with `text` in the modal window as soon as one is shown, and notes
// which window that was (the window may be gone after the press) and what it showed.
class ModalPresser : public QObject {
public:
    explicit ModalPresser(QString text)
        : m_text(std::move(text)) {
        connect(&m_timer, &QTimer::timeout, this, &ModalPresser::tryPress);
        m_timer.start(10);
    }
    QWidget* pressedIn() const { return m_pressedIn; }
    QString pressedInClass() const { return m_pressedInClass; }
    // For a preview: whether it showed a picture when the button was pressed.
    bool showedPicture() const { return m_showedPicture; }

private:
    void tryPress() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        const QList<QPushButton*> buttons = modal->findChildren<QPushButton*>();
        for (QPushButton* button : buttons) {
            if (button->text() == m_text) {
                m_timer.stop();
                m_pressedIn = modal;
                m_pressedInClass = QString::fromLatin1(modal->metaObject()->className());
                if (const auto* preview = qobject_cast<TfrmPreviewPicture*>(modal))
                    m_showedPicture = !preview->PictureView->Picture().isNull();
                button->click();
                return;
            }
        }
    }
    QString m_text;
    QTimer m_timer;
    QWidget* m_pressedIn = nullptr;
    QString m_pressedInClass;
    bool m_showedPicture = false;
};

const QString kDestinationInvalid = QStringLiteral(
    "The destination directory is invalid!\r\rIn the System register, choose a valid destination "
    "xray directory!");

// Runs `action` once the active modal window is one of class `className`.
void whenModalOfClass(const QString& className, std::function<void(QWidget*)> action) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, className, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() &&
            QString::fromLatin1(modal->metaObject()->className()) == className) {
            poll->stop();
            poll->deleteLater();
            action(modal);
        }
    });
    poll->start(10);
}

void pressButton(QWidget* window, const QString& text) {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

SimDeviceFolder simDevice(int type) {
    const SimCatalogue catalogue;
    return SimDeviceFolder(catalogue.deviceFolder(*catalogue.find(QString::number(type))));
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowAndControls();
    void longTextsAreCutAndTheWindowWidens();
    void storedImageIsShownUntilTheNextScan();
    void commandLine_data();
    void commandLine();
    void invalidPatientNumberClosesAtActivation_data();
    void invalidPatientNumberClosesAtActivation();
    void invalidDestinationClosesAndTellsHost();
    void checkBoxesFollowSettings_data();
    void checkBoxesFollowSettings();
    void scannerCreationFailure();
    void scanImageFormats_data();
    void scanImageFormats();
    void scanImageErrors_data();
    void scanImageErrors();
    void previewSaveOrDiscard_data();
    void previewSaveOrDiscard();
    void previewLoadFailureStillSaves();
    void previewWindowLayout();
    void endOfImageError();
    void oneShotClosesAfterHandOff();
    void oneShotWaitsForModalWindows_data();
    void oneShotWaitsForModalWindows();
    void helpButtonOpensSettings();
    void closeTellsHost();
    void unreachableDatabaseShowsOneFailure_data();
    void unreachableDatabaseShowsOneFailure();
    void endRequestClosesModalWindowsFirst();
    void secondStart_data();
    void secondStart();

private:
    // Starts the main window as the program does, with "Digora Toto" as the only device.
    std::unique_ptr<TRavlekMainForm> startForm(const QStringList& arguments, bool show = true);
    QString outDir() const { return m_env->path(QStringLiteral("xray")) + QLatin1Char('/'); }

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<TXrayDatabase> m_database;
};

void TestMainForm::initTestCase() {
    RegisterSimulatedDriver();
}

void TestMainForm::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_env->makeFolder(QStringLiteral("xray"));
    m_dialogs = std::make_unique<ScriptedDialogs>();
    m_host = std::make_unique<TestHost>();
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    m_database = std::make_unique<TXrayDatabase>(Environment(), ProgramDatabaseLinks());
    for (int type = 1; type <= 8; ++type)
        WriteSetting(QStringLiteral("DigoraDevices"), QString::number(type), DefaultDeviceName(type));
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), u"¤8¤"_qs);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("TotoOneShot"), QStringLiteral("0"));
    simDevice(8).updateConfig([](SimDeviceConfig& config) { config.stageMs = 0; });
}

void TestMainForm::cleanup() {
    m_database.reset();
    m_host.reset();
    m_dialogs.reset();
    m_env.reset();
}

std::unique_ptr<TRavlekMainForm> TestMainForm::startForm(const QStringList& arguments, bool show) {
    auto form = std::make_unique<TRavlekMainForm>(m_database.get(),
                                                  QStringList{QStringLiteral("ravlek")} + arguments);
    form->CreateSettingsWindow();
    if (show) {
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the main window was not activated");
    }
    return form;
}

void TestMainForm::windowAndControls() {
    const auto form = startForm({QStringLiteral("PNR=7"), QStringLiteral("OUTDIR=") + outDir()}, false);
    // The version comes from the program file's own version information: its product version,
    // the three-part version the caption has always shown.
    QCOMPARE(form->windowTitle(),
             QStringLiteral("Digora                   version: " RAVLEK_PROJECT_VERSION));
    QCOMPARE(form->size(), QSize(402, 242));
    QCOMPARE(form->minimumSize(), QSize(402, 242));
    QVERIFY(form->maximumWidth() > 402);
    QVERIFY(form->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    QVERIFY(!form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(form->DeleteSourceCheckBox->text(), QStringLiteral("After copying file, delete source file"));
    QCOMPARE(form->PreviewCheckBox->text(), QStringLiteral("Preview image"));
    QCOMPARE(form->CloseButton->text(), QStringLiteral("&Close"));
    QCOMPARE(form->btnDeviceSettings->text(), QStringLiteral("Device Settings..."));
    QCOMPARE(form->btnSelectDevices->text(), QStringLiteral("Select devices..."));
    QCOMPARE(form->ImageTypeList->title(), QStringLiteral("Imagetype"));
    QVERIFY(form->btnGrabImage->isHidden());
    QCOMPARE(form->btnGrabImage->x(), 400);
    QVERIFY(form->HardwareGroup->isHidden());
    QCOMPARE(form->KvLabel->text(), QStringLiteral("0"));
    QCOMPARE(form->KvUnitLabel->text(), QStringLiteral("kV"));
    QCOMPARE(form->BottomPanel->height(), 45);
    // The patient is shown beside the destination, with room for the longest number, clear of
    // the other controls of the panel.
    QVERIFY(!form->PatientNrLabel->isHidden());
    QCOMPARE(form->PatientNrLabel->text(), QStringLiteral("Patientnr: 7"));
    QCOMPARE(form->OutDirLabel->text(), QStringLiteral("Outdir: ") + outDir());
    QCOMPARE(form->lblStored->text(), QString());
    QVERIFY(form->PatientNrLabel->width() >=
            form->PatientNrLabel->fontMetrics().horizontalAdvance(u"Patientnr: 2147483647"_qs));
    for (const QWidget* other :
         {static_cast<QWidget*>(form->OutDirLabel), static_cast<QWidget*>(form->CloseButton),
          static_cast<QWidget*>(form->DeleteSourceCheckBox)})
        QVERIFY(!form->PatientNrLabel->geometry().intersects(other->geometry()));
    QCOMPARE(form->Tag(), 0);
    verifyDesignerNames(*form, {{"Panel1", form->BottomPanel},
                                {"Label1", form->OutDirLabel},
                                {"Label2", form->PatientNrLabel},
                                {"BitBtn1", form->CloseButton},
                                {"CheckBox1", form->DeleteSourceCheckBox},
                                {"RadioGroup1", form->ImageTypeList},
                                {"CheckBox2", form->PreviewCheckBox},
                                {"GroupBox2", form->HardwareGroup},
                                {"Label3", form->KvUnitLabel},
                                {"Label4", form->MaUnitLabel},
                                {"Label5", form->MsUnitLabel},
                                {"Label6", form->KvLabel},
                                {"Label7", form->MaLabel},
                                {"Label8", form->MsLabel},
                                {"WavPlayer1", form->ReadySoundPlayer},
                                {"Timer1", form->Devices()->StatusTimer()},
                                {"Timer2", form->Devices()->RetryTimer()},
                                {"Timer3", form->Devices()->RefreshTimer()}});
}

// A device entry or a destination too long for its line is cut with "…" and shown whole as a
// tooltip; a wider window shows it whole, and the designed size is the least.
void TestMainForm::longTextsAreCutAndTheWindowWidens() {
    const QString deep =
        outDir() + QStringLiteral("practice/server/share/with/a/long/road/to/every/radiograph/of/the/year/");
    QVERIFY(QDir().mkpath(deep));
    const auto form = startForm({QStringLiteral("PNR=7"), QStringLiteral("OUTDIR=") + deep});
    QCOMPARE(form->ImageTypeList->Count(), 2);
    const QString entry = QStringLiteral("Digora Toto: ALREADYOPENED\rConnected to - Room 2 (Eva), Room 3 "
                                         "(Ulla), Reception (Anna)");
    const QString wholeEntry = QString(entry).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    form->ImageTypeList->SetItemText(1, entry);
    QCoreApplication::processEvents(); // the list lays its items out
    QRadioButton* item = form->ImageTypeList->Button(1);

    const QStringList shown = form->ImageTypeList->ShownItemText(1).split(QLatin1Char('\n'));
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.first(), QStringLiteral("Digora Toto: ALREADYOPENED"));
    QVERIFY2(shown.last().endsWith(QStringLiteral("…")), qPrintable(shown.last()));
    QVERIFY(shown.last().startsWith(QStringLiteral("Connected to")));
    QCOMPARE(item->toolTip(), wholeEntry);
    QCOMPARE(form->ImageTypeList->ItemText(1), entry); // what the image information gets
    QVERIFY(form->ImageTypeList->geometry().right() < form->btnDeviceSettings->x());

    const QString outDirText = QStringLiteral("Outdir: ") + deep;
    QCOMPARE(form->OutDirLabel->text(), outDirText);
    const QString shownOutDir = form->OutDirLabel->ShownText();
    QVERIFY2(shownOutDir.contains(QStringLiteral("…")), qPrintable(shownOutDir));
    QVERIFY(shownOutDir.startsWith(QStringLiteral("Outdir: ")));
    QVERIFY(shownOutDir.endsWith(QStringLiteral("year/")));
    QCOMPARE(form->OutDirLabel->toolTip(), outDirText);

    form->resize(1200, 300);
    QCOMPARE(form->size(), QSize(1200, 300));
    QCOMPARE(form->ImageTypeList->ShownItemText(1), wholeEntry);
    QCOMPARE(item->toolTip(), QString());
    QCOMPARE(form->OutDirLabel->ShownText(), outDirText);
    QCOMPARE(form->OutDirLabel->toolTip(), QString());
    // The list takes the room; the controls at the right and the bottom keep to the edges.
    QCOMPARE(form->ImageTypeList->geometry(), QRect(8, 8, 250 + 798, 185 + 58));
    QCOMPARE(form->btnDeviceSettings->geometry(), QRect(266 + 798, 130, 128, 25));
    QCOMPARE(form->HelpButton->geometry().right(), 1200 - 3);
    QCOMPARE(form->BottomPanel->geometry(), QRect(0, 300 - 45, 1200, 45));
    QCOMPARE(form->CloseButton->geometry().right(), 1200 - 10);
    QCOMPARE(form->PatientNrLabel->x(), 178 + 798);
    QVERIFY(!form->PatientNrLabel->geometry().intersects(form->OutDirLabel->geometry()));

    form->resize(300, 200);
    QCOMPARE(form->size(), QSize(402, 242));
    QCOMPARE(form->btnDeviceSettings->geometry(), QRect(266, 130, 128, 25));
    QCOMPARE(form->CloseButton->geometry(), QRect(318, 10, 75, 25));
}

// After each hand-off the window names the image it stored, until the device reads the next one.
void TestMainForm::storedImageIsShownUntilTheNextScan() {
    const auto form =
        startForm({QStringLiteral("PNR=77"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    QVERIFY(simDevice(8).requestExposure());
    QTRY_COMPARE(m_host->received, QStringList{QStringLiteral("XRAY_NEW_IMAGE 77")});
    QCOMPARE(form->lblStored->text(), QStringLiteral("Stored: Rtg77_1.bmp"));
    QVERIFY(form->lblStored->isVisible());

    // Slow enough for the status poll to see the device read the next image.
    simDevice(8).updateConfig([](SimDeviceConfig& config) { config.stageMs = 1500; });
    QVERIFY(simDevice(8).requestExposure());
    QTRY_COMPARE(form->lblStored->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(form->lblStored->text(), QStringLiteral("Stored: Rtg77_2.bmp"), 10000);
    QCOMPARE(m_host->received.size(), 2);
    QVERIFY(form->isVisible());
}

void TestMainForm::commandLine_data() {
    QTest::addColumn<QString>("patientArgument");
    QTest::addColumn<bool>("withDelimiter");
    QTest::addColumn<qint32>("patientNr");
    QTest::addColumn<QString>("patientFolder"); // relative to the test folder; empty: none
    QTest::newRow("leading zeros") << QStringLiteral("PNR=00123") << true << 123
                                   << QStringLiteral("xray/123/");
    QTest::newRow("letters among digits")
        << QStringLiteral("PNR=12a3") << true << 123 << QStringLiteral("xray/123/");
    QTest::newRow("key behind a character")
        << QStringLiteral("XPNR=5") << true << 5 << QStringLiteral("xray/5/");
    QTest::newRow("no patient") << QString() << true << 0 << QString();
    QTest::newRow("destination without delimiter")
        << QStringLiteral("PNR=5") << false << 5 << QStringLiteral("xray5/");
}

void TestMainForm::commandLine() {
    QFETCH(QString, patientArgument);
    QFETCH(bool, withDelimiter);
    QFETCH(qint32, patientNr);
    QFETCH(QString, patientFolder);
    QString destination = outDir();
    if (!withDelimiter)
        destination.chop(1);
    QStringList arguments{QStringLiteral("OUTDIR=") + destination, m_host->handleArgument(),
                          QStringLiteral("DPI=300"), QStringLiteral("ZOOM=1,5")};
    if (!patientArgument.isEmpty())
        arguments.prepend(patientArgument);
    const auto form = startForm(arguments, false);
    const TStartupValues& values = form->StartupValues();
    QCOMPARE(values.PatientNr, patientNr);
    QCOMPARE(values.OutDir, destination);
    QCOMPARE(values.DpiText, QStringLiteral("300"));
    QCOMPARE(values.ZoomText, QStringLiteral("1,5"));
    QVERIFY(values.HostWindow > 0);
    QVERIFY(!values.CloseOnActivate);
    QCOMPARE(values.MsgNewImage,
             platform::windowBus().registerWindowMessage(QStringLiteral("xray_new_image")));
    QVERIFY(values.MsgTransferred >= 0xC000);
    QCOMPARE(values.PatientDir, patientFolder.isEmpty() ? QString() : m_env->path(patientFolder));
    if (!patientFolder.isEmpty())
        QVERIFY(QFileInfo(m_env->path(patientFolder)).isDir());
    QCOMPARE(values.ProgramDir, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
}

void TestMainForm::invalidPatientNumberClosesAtActivation_data() {
    QTest::addColumn<QString>("argument");
    QTest::newRow("nothing after the key") << QStringLiteral("PNR=");
    QTest::newRow("no digits") << QStringLiteral("PNR=abc");
    QTest::newRow("beyond 32 bits") << QStringLiteral("PNR=2147483648");
}

void TestMainForm::invalidPatientNumberClosesAtActivation() {
    QFETCH(QString, argument);
    m_dialogs->expectExactly(DialogKind::Warning, kInvalidPatientNumberText);
    const auto form = startForm({m_host->handleArgument(), argument, QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->StartupValues().CloseOnActivate);
    QCOMPARE(form->StartupValues().MsgTransferred, 0u);
    QCOMPARE(form->StartupValues().OutDir, QString()); // read no further than the patient number
    QVERIFY(!form->Scanner());
    QTRY_VERIFY(!form->isVisible());
    // The notice goes out with message 0, which no window receives.
    QCOMPARE(m_host->received, QStringList{});
}

void TestMainForm::invalidDestinationClosesAndTellsHost() {
    m_dialogs->expectExactly(DialogKind::Warning, kDestinationInvalid);
    const auto form = startForm({QStringLiteral("PNR=42"), m_host->handleArgument(),
                                 QStringLiteral("OUTDIR=") + m_env->path(QStringLiteral("missing/"))});
    QVERIFY(form->StartupValues().CloseOnActivate);
    QVERIFY(form->Scanner());
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_TRANSFERRED 42")});
    QCOMPARE(form->Tag(), 0);
}

void TestMainForm::checkBoxesFollowSettings_data() {
    QTest::addColumn<QString>("deleteSource");
    QTest::addColumn<QString>("preview");
    QTest::addColumn<bool>("box1");
    QTest::addColumn<bool>("box2");
    QTest::newRow("both missing") << QString() << QString() << false << false;
    QTest::newRow("both 1") << QStringLiteral("1") << QStringLiteral("1") << true << true;
    QTest::newRow("0 and 1") << QStringLiteral("0") << QStringLiteral("1") << false << true;
    QTest::newRow("-1 is not 1") << QStringLiteral("-1") << QStringLiteral("True") << false << false;
}

void TestMainForm::checkBoxesFollowSettings() {
    QFETCH(QString, deleteSource);
    QFETCH(QString, preview);
    QFETCH(bool, box1);
    QFETCH(bool, box2);
    if (!deleteSource.isEmpty())
        WriteSetting(QStringLiteral("XRay"), QStringLiteral("DeleteSource"), deleteSource);
    if (!preview.isEmpty())
        WriteSetting(QStringLiteral("XRay"), QStringLiteral("Preview"), preview);
    const auto form = startForm({QStringLiteral("PNR=1"), QStringLiteral("OUTDIR=") + outDir()}, false);
    QCOMPARE(form->DeleteSourceCheckBox->isChecked(), box1);
    QCOMPARE(form->PreviewCheckBox->isChecked(), box2);
    // Reading the states wrote nothing back.
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Preview")),
             preview.isEmpty() ? QStringLiteral("ERROR") : preview);
    form->DeleteSourceCheckBox->click();
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("DeleteSource")),
             box1 ? QStringLiteral("0") : QStringLiteral("1"));
    form->PreviewCheckBox->click();
    QCOMPARE(ReadSetting(QStringLiteral("XRay"), QStringLiteral("Preview")),
             box2 ? QStringLiteral("0") : QStringLiteral("1"));
}

void TestMainForm::scannerCreationFailure() {
    m_env->setVariable("KELVO_SIM_FAIL_CREATE", QStringLiteral("Klassen är inte registrerad"));
    m_dialogs->expectExactly(DialogKind::Warning,
                             QStringLiteral("Error creating Scanner-device!\r\rKlassen är inte registrerad"));
    const auto form = startForm({QStringLiteral("PNR=1"), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(!form->Scanner());
    QVERIFY(form->isVisible());
    QCOMPARE(form->ImageTypeList->Count(), 1);
    QCOMPARE(form->ImageTypeList->ItemIndex(), -1);
    QCOMPARE(form->Tag(), 1);
}

void TestMainForm::scanImageFormats_data() {
    QTest::addColumn<bool>("sixteenBits");
    QTest::addColumn<QString>("fileType");
    QTest::addColumn<qint32>("imageFormat");
    QTest::newRow("8 bits DIB") << false << QStringLiteral("DIB") << 524290;
    QTest::newRow("16 bits DCM") << true << QStringLiteral("DCM") << 786435;
    QTest::newRow("16 bits RAW") << true << QStringLiteral("RAW") << 786433;
}

void TestMainForm::scanImageFormats() {
    QFETCH(bool, sixteenBits);
    QFETCH(QString, fileType);
    QFETCH(qint32, imageFormat);
    const QString extension = fileType == QStringLiteral("DIB") ? QStringLiteral("bmp") : fileType.toLower();
    const auto form = startForm({QStringLiteral("PNR=9"), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    TfrmSettings& settings = *form->Settings();
    QRadioButton* typeButton = fileType == QStringLiteral("DIB")   ? settings.DibButton
                               : fileType == QStringLiteral("DCM") ? settings.DcmButton
                                                                   : settings.RawButton;
    typeButton->click();
    if (sixteenBits) {
        settings.Bits16Button->setEnabled(true);
        settings.Bits16Button->click();
    }
    const QString workingFile = outDir() + QStringLiteral("lastscannedfile.") + extension;
    m_env->writeFile(QStringLiteral("xray/lastscannedfile.") + extension, "an earlier image");
    form->ScanImage();
    QCOMPARE(form->FileName(), workingFile);
    QVERIFY(!QFileInfo::exists(workingFile));
    const std::optional<SimDeviceReport> report = simDevice(8).report();
    QVERIFY(report);
    QCOMPARE(report->imageFormat, imageFormat);
    QCOMPARE(report->imageStore, workingFile);
    QVERIFY(report->armed);
    QVERIFY(form->btnGrabImage->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
}

void TestMainForm::scanImageErrors_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("image store 5") << QStringLiteral("SetImageStore") << 5
                                   << QStringLiteral("Error getting image INVALIDPATH");
    QTest::newRow("format 0") << QStringLiteral("SetImageFormat") << 0
                              << QStringLiteral("Error getting image! Error number 0");
    QTest::newRow("format -1") << QStringLiteral("SetImageFormat") << -1
                               << QStringLiteral("Error getting image! Error number -1");
}

void TestMainForm::scanImageErrors() {
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(QString, text);
    const auto form = startForm({QStringLiteral("PNR=9"), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    // Opening the device armed it once; the failing arming must not arm it again.
    form->Scanner()->CloseScanner();
    QCOMPARE(form->Scanner()->OpenScanner(8, 0, QString()), 1);
    simDevice(8).updateConfig([&](SimDeviceConfig& config) { config.faults.insert(operation, {code, -1}); });
    m_dialogs->expectExactly(DialogKind::Warning, text);
    form->ScanImage();
    QVERIFY(!simDevice(8).report()->armed);
    QVERIFY(form->btnGrabImage->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
}

void TestMainForm::previewSaveOrDiscard_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("kept");
    QTest::newRow("save") << QStringLiteral("Save picture") << true;
    QTest::newRow("discard") << QStringLiteral("Discard picture") << false;
}

void TestMainForm::previewSaveOrDiscard() {
    QFETCH(QString, button);
    QFETCH(bool, kept);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Preview"), QStringLiteral("1"));
    const auto form = startForm(
        {QStringLiteral("PNR=123"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    QVERIFY(form->PreviewCheckBox->isChecked() && form->PreviewCheckBox->isEnabled());
    ModalPresser presser(button);
    QVERIFY(simDevice(8).requestExposure());
    QTRY_VERIFY(presser.pressedIn());
    QCOMPARE(presser.pressedInClass(), QStringLiteral("TfrmPreviewPicture"));
    QVERIFY(presser.showedPicture());
    const QString image = outDir() + QStringLiteral("123/Rtg123_1.bmp");
    if (kept) {
        QTRY_COMPARE(m_host->received, QStringList{QStringLiteral("XRAY_NEW_IMAGE 123")});
        QVERIFY(QFileInfo::exists(image));
        QVERIFY(QFileInfo::exists(form->FileName())); // "delete source" is off
        const QString information = outDir() + QStringLiteral("123/Rtg123_1.xnf");
        QCOMPARE(platform::profileFile().readString(information, QStringLiteral("ImageInformation"),
                                                    QStringLiteral("SourceFile"), QString(), 1024),
                 image);
        QCOMPARE(platform::profileFile().readString(information, QStringLiteral("ImageInformation"),
                                                    QStringLiteral("kV"), QString(), 1024),
                 QStringLiteral("0"));
    } else {
        QTRY_VERIFY(!QFileInfo::exists(form->FileName()));
        QCOMPARE(QDir(outDir() + QStringLiteral("123")).entryList(QDir::Files), QStringList{});
        QCOMPARE(m_host->received, QStringList{});
    }
    QVERIFY(form->isVisible());
}

void TestMainForm::previewLoadFailureStillSaves() {
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("Preview"), QStringLiteral("1"));
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("DeleteSource"), QStringLiteral("1"));
    const auto form =
        startForm({QStringLiteral("PNR=5"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    m_env->writeFile(QStringLiteral("xray/lastscannedfile.bmp"), "no picture in here");
    m_dialogs->expect(QStringLiteral("An error occurred while loading the preview form!\r\r"));
    ModalPresser presser(QStringLiteral("Save picture"));
    form->ScannerEndOfImage(form->Scanner(), 1);
    QVERIFY(presser.pressedIn());
    QCOMPARE(presser.pressedInClass(), QStringLiteral("TfrmPreviewPicture"));
    QVERIFY(!presser.showedPicture());
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_NEW_IMAGE 5")});
    QVERIFY(QFileInfo::exists(outDir() + QStringLiteral("5/Rtg5_1.bmp")));
    QVERIFY(!QFileInfo::exists(form->FileName()));
}

void TestMainForm::previewWindowLayout() {
    QImage wide(1160, 100, QImage::Format_Grayscale8);
    wide.fill(128);
    const QString file = m_env->path(QStringLiteral("wide.bmp"));
    QVERIFY(wide.save(file, "BMP"));
    TfrmPreviewPicture preview;
    QString error;
    QVERIFY(preview.LoadPicture(file, &error));
    preview.show();
    QCOMPARE(preview.windowTitle(), QStringLiteral("Preview picture"));
    QCOMPARE(preview.size(), QSize(580, 362));
    QCOMPARE(preview.ButtonPanel->height(), 35);
    QCOMPARE(preview.SaveButton->text(), QStringLiteral("Save picture"));
    QCOMPARE(preview.SaveButton->x(), 24);
    QVERIFY(preview.SaveButton->isDefault());
    QCOMPARE(preview.DiscardButton->text(), QStringLiteral("Discard picture"));
    QCOMPARE(preview.DiscardButton->x(), 424);
    // Scaled down to the width, proportionally, and centred in the height.
    QCOMPARE(preview.PictureView->size(), QSize(580, 327));
    QCOMPARE(preview.PictureView->PictureRect(), QRect(0, (327 - 50) / 2, 580, 50));
    verifyDesignerNames(preview, {{"Image1", preview.PictureView},
                                  {"Panel1", preview.ButtonPanel},
                                  {"BitBtn1", preview.SaveButton},
                                  {"BitBtn2", preview.DiscardButton}});

    QImage small(100, 60, QImage::Format_Grayscale8);
    small.fill(0);
    preview.PictureView->SetPicture(small);
    QCOMPARE(preview.PictureView->PictureRect(), QRect(240, (327 - 60) / 2, 100, 60));

    // Escape discards, as the cancel button does.
    QTest::keyClick(&preview, Qt::Key_Escape);
    QCOMPARE(preview.result(), int(QDialog::Rejected));
}

void TestMainForm::endOfImageError() {
    const auto form =
        startForm({QStringLiteral("PNR=5"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    m_env->writeFile(QStringLiteral("xray/lastscannedfile.bmp"), "half an image");
    m_dialogs->expectExactly(DialogKind::Warning, QStringLiteral("Error getting image SCANNERERROR"));
    form->ScannerEndOfImage(form->Scanner(), 13);
    QVERIFY(QFileInfo::exists(form->FileName()));
    QCOMPARE(m_host->received, QStringList{});
    QVERIFY(form->isVisible());
}

void TestMainForm::oneShotClosesAfterHandOff() {
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("TotoOneShot"),
                 QStringLiteral(" ")); // reads as missing
    const auto form =
        startForm({QStringLiteral("PNR=77"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    // The settings window stored its checked one-shot box again; missing reads as true.
    QVERIFY(form->Devices()->ScannerConnected());
    QVERIFY(simDevice(8).requestExposure());
    // Open a moment longer, so that the user sees what was stored.
    QTRY_COMPARE(m_host->received, QStringList{QStringLiteral("XRAY_NEW_IMAGE 77")});
    QVERIFY(form->isVisible());
    QCOMPARE(form->lblStored->text(), QStringLiteral("Stored: Rtg77_1.bmp"));
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(m_host->received,
             (QStringList{QStringLiteral("XRAY_NEW_IMAGE 77"), QStringLiteral("XRAY_TRANSFERRED 77")}));
    QVERIFY(QFileInfo::exists(outDir() + QStringLiteral("77/Rtg77_1.bmp")));
    QVERIFY(!form->Settings());
}

void TestMainForm::oneShotWaitsForModalWindows_data() {
    QTest::addColumn<QString>("opener");      // the settings window's button that opens the window
    QTest::addColumn<QString>("windowClass"); // the modal window open when the image arrives
    QTest::addColumn<QString>("leave");       // its button that closes it
    QTest::newRow("settings window") << QString() << QStringLiteral("TfrmSettings")
                                     << QStringLiteral("Return");
    QTest::newRow("workstation editor")
        << QStringLiteral("Add...") << QStringLiteral("TfrmEditXrayWorkstation") << QStringLiteral("Avbryt");
    QTest::newRow("data-provider chooser")
        << QStringLiteral("Select...") << QStringLiteral("TfrmDataProviders") << QStringLiteral("Avbryt");
    QTest::newRow("question box") << QStringLiteral("Delete...") << QStringLiteral("QMessageBox")
                                  << QStringLiteral("&No");
}

// The one-shot rule closes the window from inside the scanner's event, which may come while the
// user has a modal window open above it. The image is handed off at once; the window closes
// once the user has closed the modal windows, and nothing is destroyed under them.
void TestMainForm::oneShotWaitsForModalWindows() {
    QFETCH(QString, opener);
    QFETCH(QString, windowClass);
    QFETCH(QString, leave);
    WriteSetting(QStringLiteral("XRay"), QStringLiteral("TotoOneShot"), QStringLiteral("1"));
    const auto form =
        startForm({QStringLiteral("PNR=77"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    // A question box is a real one here, so that it runs its own modal loop.
    platform::QtDialogService realBoxes;
    std::optional<platform::ScopedPort<platform::DialogService>> realBoxesInPlace;
    if (windowClass == QStringLiteral("QMessageBox"))
        realBoxesInPlace.emplace(realBoxes);

    bool storedWhileOpen = false;
    bool openWhenStored = false;
    bool mainWindowOpenWhenStored = false;
    bool mainWindowOpenInSettings = false;
    const QPointer<TRavlekMainForm> mainWindow(form.get());
    const auto exposeThenLeave = [&](QWidget* window) {
        const QPointer<QWidget> modal(window);
        QVERIFY(simDevice(8).requestExposure());
        storedWhileOpen = QTest::qWaitFor([&] { return !m_host->received.isEmpty(); }, 10000);
        QTest::qWait(100); // the close, were it not held back, would run now
        openWhenStored = modal && modal->isVisible();
        mainWindowOpenWhenStored = mainWindow && mainWindow->isVisible();
        if (modal)
            pressButton(modal, leave);
    };
    whenModalOfClass(QStringLiteral("TfrmSettings"), [&](QWidget* settings) {
        if (opener.isEmpty()) {
            exposeThenLeave(settings);
            return;
        }
        whenModalOfClass(windowClass, [&](QWidget* window) {
            exposeThenLeave(window);
            // Back in the settings window once the inner window's loop has returned.
            whenModalOfClass(QStringLiteral("TfrmSettings"), [&](QWidget* again) {
                mainWindowOpenInSettings = mainWindow && mainWindow->isVisible();
                // "Select..." leaves the database closed until the user connects again.
                if (form->Settings()->ConnectButton->isEnabled())
                    form->Settings()->ConnectButton->click();
                pressButton(again, QStringLiteral("Return"));
            });
        });
        if (opener == QStringLiteral("Delete..."))
            form->Settings()->BitBtn89Click(); // the register is empty, so the button is disabled
        else
            pressButton(settings, opener);
    });
    form->HelpButton->click();

    QVERIFY(storedWhileOpen);
    QVERIFY(openWhenStored);
    QVERIFY(mainWindowOpenWhenStored);
    QVERIFY(opener.isEmpty() || mainWindowOpenInSettings);
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(m_host->received,
             (QStringList{QStringLiteral("XRAY_NEW_IMAGE 77"), QStringLiteral("XRAY_TRANSFERRED 77")}));
    QVERIFY(QFileInfo::exists(outDir() + QStringLiteral("77/Rtg77_1.bmp")));
    QVERIFY(!form->Settings());
}

void TestMainForm::helpButtonOpensSettings() {
    const auto form = startForm({QStringLiteral("PNR=5"), QStringLiteral("OUTDIR=") + outDir()});
    {
        ModalPresser presser(QStringLiteral("Return"));
        form->HelpButton->click();
        QCOMPARE(presser.pressedIn(), form->Settings());
    }
    {
        // The title bar's help button asks the application for context help.
        ModalPresser presser(QStringLiteral("Return"));
        QEvent help(QEvent::EnterWhatsThisMode);
        QVERIFY(QCoreApplication::sendEvent(qApp, &help));
        QCOMPARE(presser.pressedIn(), form->Settings());
    }
    QVERIFY(form->isVisible());
}

void TestMainForm::closeTellsHost() {
    const auto form =
        startForm({QStringLiteral("PNR=31"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QCOMPARE(form->Tag(), 1);
    form->CloseButton->click();
    QVERIFY(!form->isVisible());
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_TRANSFERRED 31")});
    QVERIFY(!form->Settings());
    QVERIFY(!form->Devices()->StatusTimer()->isActive());
    QVERIFY(form->Devices()->ScannerLabels().isEmpty());
    // The closed window is no longer found as a running copy.
    QCOMPARE(platform::windowBus().findWindow(kMainFormClass, QString()), 0);
}

void TestMainForm::unreachableDatabaseShowsOneFailure_data() {
    QTest::addColumn<bool>("loginInFile");
    QTest::newRow("login in the data-link file") << true;
    QTest::newRow("login fetched from the database") << false;
}

// A start against a database server that does not answer (a server that takes connections and
// never replies, as an unreachable one looks to the program: every connect runs into its
// time-out). The start, the list of a register type, the selection and the close cost one
// connect attempt, and the failure is shown once.
void TestMainForm::unreachableDatabaseShowsOneFailure() {
    QFETCH(bool, loginInFile);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    QString link =
        QStringLiteral("Provider=PostgreSQL;Initial Catalog=practice;Connect Timeout=2;Data Source=") +
        server;
    if (loginInFile)
        link += QStringLiteral(";User ID=ravlek;Password=secret");
    QVERIFY(QDir().mkpath(Environment().DataLinksPath));
    QVERIFY(WriteDataLinkFile(Environment().DataLinksPath + QStringLiteral("Practice.udl"), link));
    WriteSetting(QStringLiteral("DigoraDevices"), QStringLiteral("ConnectTo"), u"¤1¤8¤"_qs);
    m_dialogs->expect(QStringLiteral("Det gick inte att ansluta till databasen ") + server);

    const auto form =
        startForm({QStringLiteral("PNR=5"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QCOMPARE(form->Tag(), 1);
    QCOMPARE(form->ImageTypeList->Count(), 2); // "(Idle)" and the device that needs no database
    form->CloseButton->click();

    QVERIFY(m_dialogs->allAnswered());
    QCOMPARE(m_dialogs->shown().size(), 1);
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_TRANSFERRED 5")});
    QTest::qWait(50); // the server takes the connections waiting in its queue
    int attempts = 0;
    while (QTcpSocket* connection = silent.nextPendingConnection()) {
        ++attempts;
        delete connection;
    }
    QCOMPARE(attempts, 1);
}

// Asked to end while the settings window is open (a logout, `kill`): the settings window is
// closed as its own close button would, and then the main window as its Close button does.
void TestMainForm::endRequestClosesModalWindowsFirst() {
    const auto form =
        startForm({QStringLiteral("PNR=31"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    QVERIFY(form->Devices()->ScannerConnected());
    bool settingsShown = false;
    whenModal<TfrmSettings>([&](TfrmSettings*) {
        settingsShown = true;
        CloseAfterModalWindows(form.get());
    });
    form->HelpButton->click(); // returns when the settings window has closed
    QVERIFY(settingsShown);
    QVERIFY(form->isVisible()); // closed once the settings window's loop has returned
    QTRY_VERIFY(!form->isVisible());
    QCOMPARE(m_host->received, QStringList{QStringLiteral("XRAY_TRANSFERRED 31")});
    QVERIFY(!form->Settings());
}

void TestMainForm::secondStart_data() {
    QTest::addColumn<QStringList>("arguments"); // of the second start
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("warning"); // shown by the running copy, or empty
    const QString outDirArgument = QStringLiteral("OUTDIR=/srv/xray/");
    QTest::newRow("same patient") << QStringList{QStringLiteral("PNR=0042"), outDirArgument} << 0
                                  << QString();
    QTest::newRow("no patient named") << QStringList{outDirArgument} << 0 << QString();
    QTest::newRow("another patient")
        << QStringList{QStringLiteral("PNR=815"), outDirArgument} << kOtherPatientExitCode
        << QStringLiteral(
               "Ravlek was started for patient 815, but it is already open for patient 42!\r\rImages "
               "taken in this window are stored for patient 42. Close it before you take images for "
               "another patient.");
    QTest::newRow("unusable patient number")
        << QStringList{QStringLiteral("PNR=abc")} << kOtherPatientExitCode
        << QStringLiteral(
               "Ravlek was started with an invalid patient number, but it is already open for patient "
               "42!\r\rImages taken in this window are stored for patient 42. Close it before you take "
               "images for another patient.");
}

// A second start asks the running copy for its patient over the bus. For the same patient it
// brings the running copy up and ends with 0; for another it leaves it, the running copy warns
// its user, and the start ends with kOtherPatientExitCode.
void TestMainForm::secondStart() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, warning);
    platform::WindowDefinition application;
    application.className = kApplicationWindowClass;
    application.title = kApplicationTitle;
    const auto applicationWindow = platform::windowBus().registerWindow(application);
    const auto form =
        startForm({QStringLiteral("PNR=42"), m_host->handleArgument(), QStringLiteral("OUTDIR=") + outDir()});
    if (!warning.isEmpty())
        m_dialogs->expectExactly(DialogKind::Warning, warning);

    int code = -1;
    QVERIFY(ActivatePreviousInstance(arguments, &code));
    QCOMPARE(code, exitCode);
    QTRY_VERIFY(m_dialogs->allAnswered());
    QTest::qWait(50); // no other box comes after
    QCOMPARE(m_dialogs->shown().size(), warning.isEmpty() ? 0 : 1);
    QVERIFY(form->isVisible());
    QCOMPARE(form->StartupValues().PatientNr, 42);
    QCOMPARE(m_host->received, QStringList{});
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
