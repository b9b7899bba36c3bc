#include "app/MainUnit.h"

#include "app/CommandLine.h"
#include "app/ImageHandOff.h"
#include "app/PacsLink.h"
#include "app/UPreviewPicture.h"
#include "devices/DeviceList.h"
#include "devices/TRadioGroup.h"
#include "platform/Logging.h"
#include "platform/Paths.h"
#include "scanner/DSDLib_TLB.h"
#include "scanner/ScannerStatus.h"
#include "settings/USelectDevices.h"
#include "settings/USettings.h"
#include "sound/ReadySound.h"
#include "sound/WavPlayer.h"
#include "tools/CEVersionInfo.h"
#include "tools/DesignerNames.h"
#include "tools/ElidedText.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"
#include "tools/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kXRaySection = QStringLiteral("XRay");
constexpr int kClientWidth = 402;
constexpr int kClientHeight = 242;
constexpr int kPanelHeight = 45;
constexpr int kListWidth = 250;
constexpr int kListHeight = 185;
constexpr int kOutDirWidth = 166;
constexpr int kPatientNrLeft = 178;
constexpr int kCloseLeft = 318;
// How long the one-shot rule leaves the window open after a hand-off, so that the user sees
// what was stored.
constexpr int kOneShotCloseDelayMs = 1500;
constexpr int kActivationTimeoutMs = 5000;
// How often a close that waits for modal windows looks again.
constexpr int kModalWindowPollMs = 50;

// The version comes from the version information of the program's own file.
QString mainFormCaption() {
    return QStringLiteral("Digora") + QString(19, QLatin1Char(' ')) + QStringLiteral("version: ") +
           TCEVersionInfo().ProductVersion;
}

QString withTrailingDelimiter(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// The hourglass and a disabled grab button while the control is being armed; both are
// given back however the arming ends.
class ArmingScope {
public:
    explicit ArmingScope(QPushButton* grabButton)
        : m_grabButton(grabButton) {
        m_grabButton->setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~ArmingScope() {
        QApplication::restoreOverrideCursor();
        m_grabButton->setEnabled(true);
    }
    ArmingScope(const ArmingScope&) = delete;
    ArmingScope& operator=(const ArmingScope&) = delete;

private:
    QPushButton* m_grabButton;
};

// A scanner code counts by its low 16 bits, read as a signed number.
int codeOf(qint32 result) {
    return qint16(result & 0xFFFF);
}

} // namespace

bool ForceForegroundWindow(platform::WindowHandle target) {
    return platform::windowBus().activate(target, kActivationTimeoutMs);
}

bool SamePatientStart(qint64 requested, qint32 running) {
    return requested == 0 || requested == running;
}

QString OtherPatientWarning(qint64 requested, qint32 running) {
    const QString started = requested < 0
                                ? QStringLiteral("Ravlek was started with an invalid patient number")
                                : QStringLiteral("Ravlek was started for patient %1").arg(requested);
    return started + QStringLiteral(", but it is already open for patient %1!\r\rImages taken in this window "
                                    "are stored for patient %1. Close it before you take images for "
                                    "another patient.")
                         .arg(running);
}

bool ActivatePreviousInstance(const QStringList& arguments, int* exitCode) {
    *exitCode = 0;
    platform::WindowBus& bus = platform::windowBus();
    const platform::WindowHandle application = bus.findWindow(kApplicationWindowClass, kApplicationTitle);
    if (application == 0)
        return false;
    for (const platform::WindowInfo& window : bus.enumWindows()) {
        if (window.handle != application &&
            window.className.left(127).compare(kMainFormClass, Qt::CaseInsensitive) == 0) {
            const CommandLineValues values = ParseCommandLine(arguments);
            const qint64 requested = values.patientNumberInvalid ? -1 : values.PatientNr;
            qint64 running = 0;
            // A copy that cannot say which patient it serves may serve another one.
            if (bus.sendMessageTimeout(window.handle, bus.registerWindowMessage(kSecondStartMessage),
                                       requested, 0, kActivationTimeoutMs, &running) &&
                SamePatientStart(requested, qint32(running)))
                ForceForegroundWindow(window.handle);
            else
                *exitCode = kOtherPatientExitCode;
            return true;
        }
    }
    return false;
}

TRavlekMainForm::TRavlekMainForm(TXrayDatabase* database, const QStringList& arguments, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint)
    , m_database(database) {
    createControls();
    TDeviceListLinks links;
    links.ImageTypeList = ImageTypeList;
    links.btnDeviceSettings = btnDeviceSettings;
    links.ReadySoundPlayer = ReadySoundPlayer;
    links.Database = database;
    links.ScanImage = [this] { ScanImage(); };
    links.FirstActivationMarker = [this] { return m_tag; };
    m_devices = new TDeviceListController(std::move(links), this);

    FormCreate(arguments);
    m_pacs = new TPacsLink(m_startup.PatientNr, lblPacsQueue, this);
    m_devices->SetScanner(m_scanner.get());
    m_devices->SetPatientDir(m_startup.PatientDir);

    // Connected after the stored states were read, so that reading them writes nothing back.
    connect(DeleteSourceCheckBox, &QCheckBox::toggled, this, &TRavlekMainForm::CheckBox1Click);
    connect(PreviewCheckBox, &QCheckBox::toggled, this, &TRavlekMainForm::CheckBox2Click);
    connect(ImageTypeList, &TRadioGroup::Click, this, [this] { m_devices->RadioGroup1Click(ImageTypeList); });
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);
    connect(btnGrabImage, &QPushButton::clicked, this, &TRavlekMainForm::ScanImage);
    connect(btnDeviceSettings, &QPushButton::clicked, m_devices,
            &TDeviceListController::btnDeviceSettingsClick);
    connect(btnSelectDevices, &QPushButton::clicked, this, &TRavlekMainForm::btnSelectDevicesClick);
    connect(HelpButton, &QToolButton::clicked, this, &TRavlekMainForm::HelpButtonClick);
    connect(m_devices, &TDeviceListController::StatusRead, this, &TRavlekMainForm::StatusRead);
    qApp->installEventFilter(this);
    registerOnBus();
}

TRavlekMainForm::~TRavlekMainForm() {
    qApp->removeEventFilter(this);
    m_devices->StopTimers();
    m_devices->SetScanner(nullptr);
}

void TRavlekMainForm::createControls() {
    setWindowTitle(mainFormCaption());
    // It can be made larger, for long device entries; the designed size is the least.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);

    BottomPanel = new QWidget(this);
    BottomPanel->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);
    OutDirLabel = new TElidedLabel(Qt::ElideMiddle, BottomPanel);
    OutDirLabel->setText(QStringLiteral("Label1"));
    OutDirLabel->setGeometry(8, 2, kOutDirWidth, 16);
    // The patient the images go to, beside the destination, so that a window left open for
    // another patient shows.
    PatientNrLabel = new QLabel(QStringLiteral("Label2"), BottomPanel);
    PatientNrLabel->setGeometry(kPatientNrLeft, 2, 138, 16);
    CloseButton = new QPushButton(QStringLiteral("&Close"), BottomPanel);
    CloseButton->setGeometry(318, 10, 75, 25);
    DeleteSourceCheckBox =
        new QCheckBox(QStringLiteral("After copying file, delete source file"), BottomPanel);
    DeleteSourceCheckBox->setGeometry(8, 22, 300, 17);

    ImageTypeList = new TRadioGroup(this);
    ImageTypeList->setTitle(QStringLiteral("Imagetype"));
    ImageTypeList->setGeometry(8, 8, kListWidth, kListHeight);
    for (const QString& item :
         {QStringLiteral("Panorama"), QStringLiteral("Cephalometric"), QStringLiteral("Intraoral")})
        ImageTypeList->AddItem(item);

    PreviewCheckBox = new QCheckBox(QStringLiteral("Preview image"), this);
    PreviewCheckBox->setGeometry(266, 8, 110, 17);
    PreviewCheckBox->setChecked(true);

    btnGrabImage = new QPushButton(QStringLiteral("Grab image..."), this);
    btnGrabImage->setGeometry(400, 40, 100, 25);
    btnGrabImage->hide();

    HardwareGroup = new QGroupBox(QStringLiteral("Hardware settings"), this);
    HardwareGroup->setGeometry(266, 30, 128, 90);
    HardwareGroup->hide();
    const auto readOut = [this](const QString& text, int top) {
        auto* label = new QLabel(text, HardwareGroup);
        label->setGeometry(12, top, 40, 16);
        return label;
    };
    const auto unit = [this](const QString& text, int top) {
        auto* label = new QLabel(text, HardwareGroup);
        label->setGeometry(60, top, 30, 16);
        return label;
    };
    KvLabel = readOut(QStringLiteral("0"), 20);
    MaLabel = readOut(QStringLiteral("0"), 40);
    MsLabel = readOut(QStringLiteral("0"), 60);
    KvUnitLabel = unit(QStringLiteral("kV"), 20);
    MaUnitLabel = unit(QStringLiteral("mA"), 40);
    MsUnitLabel = unit(QStringLiteral("mS"), 60);

    btnDeviceSettings = new QPushButton(QStringLiteral("Device Settings..."), this);
    btnDeviceSettings->setGeometry(266, 130, 128, 25);
    btnSelectDevices = new QPushButton(QStringLiteral("Select devices..."), this);
    btnSelectDevices->setGeometry(266, 162, 128, 25);

    ReadySoundPlayer = new TWavPlayer(this);
    LoadReadySound(*ReadySoundPlayer);

    HelpButton = new QToolButton(this);
    HelpButton->setText(QStringLiteral("?"));
    HelpButton->setToolTip(QStringLiteral("Settings"));
    HelpButton->setGeometry(kClientWidth - 22, 2, 20, 20);

    // Where the hidden hardware read-outs would be.
    lblStored = new TElidedLabel(Qt::ElideMiddle, this);
    lblStored->setGeometry(266, 34, 128, 16);
    KeepDesignerNames({{BottomPanel, "Panel1"},
                       {OutDirLabel, "Label1"},
                       {PatientNrLabel, "Label2"},
                       {CloseButton, "BitBtn1"},
                       {DeleteSourceCheckBox, "CheckBox1"},
                       {ImageTypeList, "RadioGroup1"},
                       {PreviewCheckBox, "CheckBox2"},
                       {btnGrabImage, "btnGrabImage"},
                       {HardwareGroup, "GroupBox2"},
                       {KvUnitLabel, "Label3"},
                       {MaUnitLabel, "Label4"},
                       {MsUnitLabel, "Label5"},
                       {KvLabel, "Label6"},
                       {MaLabel, "Label7"},
                       {MsLabel, "Label8"},
                       {btnDeviceSettings, "btnDeviceSettings"},
                       {btnSelectDevices, "btnSelectDevices"},
                       {ReadySoundPlayer, "WavPlayer1"},
                       {HelpButton, "HelpButton"},
                       {lblStored, "lblStored"}});

    lblPacsQueue = new QLabel(this);
    lblPacsQueue->setObjectName(QStringLiteral("lblPacsQueue"));
    lblPacsQueue->setGeometry(266, 100, 128, 24);
    lblPacsQueue->hide();

    for (QWidget* control :
         std::initializer_list<QWidget*>{PreviewCheckBox, btnGrabImage, HardwareGroup, btnDeviceSettings,
                                         btnSelectDevices, HelpButton, lblStored, lblPacsQueue})
        m_rightColumn.append({control, control->x()});
    orderTabStops();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// Reading order: the list, the column to its right, then the bottom panel.
void TRavlekMainForm::orderTabStops() {
    const QList<QWidget*> order{ImageTypeList,    PreviewCheckBox,      HelpButton, btnDeviceSettings,
                                btnSelectDevices, DeleteSourceCheckBox, CloseButton};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void TRavlekMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
}

void TRavlekMainForm::placeControls() {
    const int wider = width() - kClientWidth;
    const int taller = height() - kClientHeight;
    BottomPanel->setGeometry(0, height() - kPanelHeight, width(), kPanelHeight);
    OutDirLabel->resize(kOutDirWidth + wider, OutDirLabel->height());
    PatientNrLabel->move(kPatientNrLeft + wider, PatientNrLabel->y());
    CloseButton->move(kCloseLeft + wider, CloseButton->y());
    ImageTypeList->resize(kListWidth + wider, kListHeight + taller);
    for (const auto& [control, designedLeft] : std::as_const(m_rightColumn))
        control->move(designedLeft + wider, control->y());
}

void TRavlekMainForm::FormCreate(const QStringList& arguments) {
    m_startup.CloseOnActivate = false;
    m_startup.ProgramDir = withTrailingDelimiter(platform::paths().executableDirectory());
    try {
        InitApplicationEnvironment(arguments);
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
    }
    m_startup.PatientNr = 0;

    const CommandLineValues values = ParseCommandLine(arguments.mid(1));
    m_startup.PatientNr = values.PatientNr;
    m_startup.HostWindow = values.HostWindow;
    m_startup.OutDir = values.OutDir;
    m_startup.DpiText = values.DpiText;
    m_startup.ZoomText = values.ZoomText;
    if (values.patientNumberInvalid) {
        WarningBox(kInvalidPatientNumberText);
        m_startup.CloseOnActivate = true;
        return;
    }
    if (values.hostWindowInvalid)
        WarningBox(kInvalidHostWindowText);

    m_startup.MsgTransferred =
        platform::windowBus().registerWindowMessage(QStringLiteral("XRAY_TRANSFERRED"));
    m_startup.MsgNewImage = platform::windowBus().registerWindowMessage(QStringLiteral("XRAY_NEW_IMAGE"));
    PatientNrLabel->setText(QStringLiteral("Patientnr: ") + QString::number(m_startup.PatientNr));
    DeleteSourceCheckBox->setChecked(ReadSetting(kXRaySection, QStringLiteral("DeleteSource")) ==
                                     QStringLiteral("1"));
    PreviewCheckBox->setChecked(ReadSetting(kXRaySection, QStringLiteral("Preview")) == QStringLiteral("1"));

    if (!QFileInfo(m_startup.OutDir).isDir()) {
        WarningBox(QStringLiteral("The destination directory is invalid!\r\rIn the System register, choose a "
                                  "valid destination xray directory!"));
        m_startup.CloseOnActivate = true;
    }
    if (m_startup.PatientNr > 0) {
        m_startup.PatientDir = PatientFolder(m_startup.OutDir, m_startup.PatientNr);
        // A folder that cannot be made is reported when an image is to be stored there.
        QDir().mkpath(m_startup.PatientDir);
    }
    OutDirLabel->setText(QStringLiteral("Outdir: ") + m_startup.OutDir);
    createScanner();
}

void TRavlekMainForm::createScanner() {
    try {
        m_scanner = CreateScannerControl(CLASS_Dsd, this);
        connect(m_scanner.get(), &TDsd::OnEndOfImage, this, &TRavlekMainForm::ScannerEndOfImage);
    } catch (const std::exception& failure) {
        m_scanner.reset();
        FailureMessage(QStringLiteral("Error creating Scanner-device!\r\r") + FailureText(failure));
    }
}

void TRavlekMainForm::registerOnBus() {
    const quint32 secondStart = platform::windowBus().registerWindowMessage(kSecondStartMessage);
    platform::WindowDefinition definition;
    definition.className = kMainFormClass;
    definition.title = windowTitle();
    definition.widget = this;
    definition.handler = [this, secondStart](quint32 msg, qint64 wParam, qint64) {
        return msg == secondStart && secondStart != 0 ? answerSecondStart(wParam) : 0;
    };
    m_registration = platform::windowBus().registerWindow(definition);
    if (m_registration)
        SetProgressMainWindow(m_registration->handle());
}

qint64 TRavlekMainForm::answerSecondStart(qint64 requestedPatient) {
    if (!SamePatientStart(requestedPatient, m_startup.PatientNr)) {
        // Shown from the event loop: the second start gets its answer at once and ends.
        QMetaObject::invokeMethod(
            this,
            [this, requestedPatient] {
                if (m_closed)
                    return;
                ForceForegroundWindow(m_registration ? m_registration->handle() : 0);
                WarningBox(OtherPatientWarning(requestedPatient, m_startup.PatientNr));
            },
            Qt::QueuedConnection);
    }
    return m_startup.PatientNr;
}

void TRavlekMainForm::CreateSettingsWindow() {
    if (!m_database)
        return;
    TSettingsLinks links;
    links.ScanImage = [this] { ScanImage(); };
    links.SetGrabEnabled = [this](bool enabled) { btnGrabImage->setEnabled(enabled); };
    links.SetPreviewEnabled = [this](bool enabled) { PreviewCheckBox->setEnabled(enabled); };
    links.DeviceListUpdating = [this] { return m_devices->Updating(); };
    m_settings = std::make_unique<TfrmSettings>(*m_database, std::move(links), this);
    m_settings->hide();
}

bool TRavlekMainForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        if (m_registration)
            m_registration->noteActivated();
        FormActivate();
    }
    return QWidget::event(event);
}

// The title bar's help button asks for context help; here it opens the settings window.
bool TRavlekMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnterWhatsThisMode && isVisible() && !m_closed &&
        !QApplication::activeModalWidget()) {
        HelpButtonClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TRavlekMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TRavlekMainForm::FormShow() {
    if (m_settings)
        btnGrabImage->setEnabled(m_settings->ConnectToDatabase());
}

void TRavlekMainForm::FormActivate() {
    if (m_closed)
        return;
    if (m_startup.CloseOnActivate) {
        // Closed once the activation is over, not from inside it.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // A message box during the first build activates the window again when it closes.
    if (m_tag != 0 || m_buildingList)
        return;
    m_buildingList = true;
    UpdateDeviceList(true);
    m_buildingList = false;
    m_tag = 1;
}

void TRavlekMainForm::closeEvent(QCloseEvent* event) {
    if (!m_closed && QApplication::activeModalWidget()) {
        // A modal window runs its loop above this one: the one-shot rule closes from inside the
        // scanner's event, which also comes while the settings window, one of its dialogs or a
        // message box is open. Closing now would destroy the settings window under them.
        event->ignore();
        closeWhenModalWindowsHaveReturned();
        return;
    }
    if (!m_closed)
        FormClose();
    event->accept();
}

void TRavlekMainForm::closeWhenModalWindowsHaveReturned() {
    if (m_closeWaiting)
        return;
    m_closeWaiting = true;
    QTimer::singleShot(kModalWindowPollMs, this, [this] {
        m_closeWaiting = false;
        close();
    });
}

void TRavlekMainForm::FormClose() {
    m_closed = true;
    m_devices->StopTimers();
    m_devices->ClearScannerLabels();
    m_devices->RemoveOwnLocks();
    if (m_database)
        m_database->Database1->Close();
    m_settings.reset();
    m_registration.reset();
    ForceForegroundWindow(m_startup.HostWindow);
    tellHost(m_startup.MsgTransferred);
}

void TRavlekMainForm::CheckBox1Click() {
    WriteSetting(kXRaySection, QStringLiteral("DeleteSource"),
                 DeleteSourceCheckBox->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void TRavlekMainForm::CheckBox2Click() {
    WriteSetting(kXRaySection, QStringLiteral("Preview"),
                 PreviewCheckBox->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void TRavlekMainForm::UpdateDeviceList(bool Rebuild) {
    m_devices->UpdateDeviceList(Rebuild);
}

void TRavlekMainForm::btnSelectDevicesClick() {
    {
        TfrmSelectDevices dialog(this);
        dialog.exec();
    }
    UpdateDeviceList(true);
}

void TRavlekMainForm::HelpButtonClick() {
    if (m_settings && !m_settings->isVisible()) {
        m_settings->exec();
        m_pacs->ReloadSettings();
    }
}

// ---- Image grab -------------------------------------------------------------------------

void TRavlekMainForm::ScanImage() {
    if (!m_devices->ScannerConnected() || !m_scanner) {
        btnGrabImage->setEnabled(true);
        return;
    }
    std::optional<int> failure;
    try {
        const ArmingScope arming(btnGrabImage);
        failure = armScan();
    } catch (const std::exception& error) {
        ShowUnhandledFailure(error);
        return;
    }
    // Shown with the normal cursor, as the system's own message boxes are.
    if (failure)
        FailureMessage(ScannerErrorText(*failure));
}

std::optional<int> TRavlekMainForm::armScan() {
    const TImageFormat format = m_settings ? m_settings->ImageFormat() : TImageFormat();
    m_fileName = WorkingFileName(m_startup.OutDir, format.FileType);
    // No earlier image may be taken for the next one.
    if (QFileInfo::exists(m_fileName))
        QFile::remove(m_fileName);
    int result = codeOf(m_scanner->SetImageFormat(ImageFormatValue(format.Depth, format.FileType)));
    if (result == ScannerCode::Ok)
        result = codeOf(m_scanner->SetImageStore(m_fileName));
    if (result != ScannerCode::Ok)
        return result;
    m_scanner->ActivateScan(0);
    return std::nullopt;
}

// ---- Image hand-off ---------------------------------------------------------------------

void TRavlekMainForm::ScannerEndOfImage(QObject* /*Sender*/, int scanStatus) {
    try {
        if (scanStatus != ScannerCode::Ok) {
            FailureMessage(ScannerErrorText(scanStatus));
            return;
        }
        if (PreviewCheckBox->isChecked() && PreviewCheckBox->isEnabled()) {
            TfrmPreviewPicture preview(this);
            QString error;
            if (!preview.LoadPicture(m_fileName, &error))
                FailureMessage(QStringLiteral("An error occurred while loading the preview form!\r\r") +
                               error);
            if (preview.exec() != QDialog::Accepted) {
                QFile::remove(m_fileName);
                return;
            }
        }
        handOff();
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
    }
}

void TRavlekMainForm::handOff() {
    const HandOffResult stored = HandOffImage(
        m_fileName, DeleteSourceCheckBox->isChecked(), m_startup.OutDir, m_startup.PatientNr,
        [this](const QString& newName) { return describeImage(newName); },
        [this] { tellHost(m_startup.MsgNewImage); });
    if (!stored.success)
        return;
    lblStored->setText(QStringLiteral("Stored: ") + QFileInfo(stored.newName).fileName());
    m_scanner->DiscardImage();
    if (ImageTypeList->ItemIndex() > 0 && OneShotClosesWindow())
        QTimer::singleShot(kOneShotCloseDelayMs, this, &QWidget::close);
}

void TRavlekMainForm::StatusRead(int status) {
    if (status == ScannerCode::PlateInserted || status == ScannerCode::ImageReadout)
        lblStored->setText(QString());
}

void TRavlekMainForm::tellHost(quint32 message) {
    platform::WindowBus& bus = platform::windowBus();
    const platform::WindowHandle host = m_startup.HostWindow;
    const QString sent =
        QStringLiteral("%1 (wParam %2, lParam 0)").arg(bus.messageName(message)).arg(m_startup.PatientNr);
    const bool hostThere = host != 0 && bus.isWindow(host);
    const qint64 answer = bus.sendMessage(host, message, m_startup.PatientNr, 0);
    if (hostThere)
        qCInfo(lcBus).noquote() << QStringLiteral("Sent %1 to the host window %2, which answered %3")
                                       .arg(sent)
                                       .arg(host)
                                       .arg(answer);
    else if (host == 0)
        qCInfo(lcBus).noquote() << QStringLiteral("No host window to send %1 to").arg(sent);
    else
        qCWarning(lcBus).noquote()
            << QStringLiteral("Could not send %1: the host window %2 is gone").arg(sent).arg(host);
}

ImageInformation TRavlekMainForm::describeImage(const QString& newName) {
    const QString parameterText = m_scanner->GetImageParms();
    const ImageParameters parameters = ReadImageParameters(parameterText);
    ImageContext context;
    context.kV = KvLabel->text();
    context.mA = MaLabel->text();
    context.mS = MsLabel->text();
    context.scannerLabel = ImageTypeList->ItemText(ImageTypeList->ItemIndex());
    context.scannerVersion = m_scanner->GetScannerVersion();
    context.dpiText = m_startup.DpiText;
    context.zoomText = m_startup.ZoomText;
    context.workstationName = GetWorkstationName();
    context.stationId = m_devices->gstationID();
    const ImageInformation information = MakeImageInformation(newName, parameters, context);
    // The PACS is handed the stored image with the same description, before the host is told of it.
    m_pacs->ImageStored(newName, parameterText, parameters, context, information, *ImageTypeList, *m_devices);
    return information;
}
