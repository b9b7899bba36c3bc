#pragma once

// The main window: the host contract (command line, the two host messages), the image
// grab and hand-off, and the image-type list whose logic lives in TDeviceListController.

#include "platform/WindowBus.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>
#include <utility>

struct ImageInformation;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QToolButton;
class TDeviceListController;
class TElidedLabel;
class TDsd;
class TPacsLink;
class TRadioGroup;
class TWavPlayer;
class TXrayDatabase;
class TfrmSettings;

// The names under which a running copy of the program is found on the window bus.
inline const QString kApplicationWindowClass = QStringLiteral("TApplication");
inline const QString kApplicationTitle = QStringLiteral("Kelvo Digital X-Ray");
inline const QString kMainFormClass = QStringLiteral("TRavlekMainForm");

// The message by which a second start tells the running copy's main window which patient it
// was started for: wParam the patient number, 0 when it was given none, -1 when its PNR= value
// was unusable; lParam 0. The running copy answers with its own patient number and, when the
// two are for different patients, warns its user.
inline const QString kSecondStartMessage = QStringLiteral("RAVLEK_SECOND_START");
// The exit code of a start that found a copy running for another patient (or one that did not
// answer): it did nothing, and the journal program should not expect images from it.
constexpr int kOtherPatientExitCode = 3;

// Whether a start for patient `requested` (as in kSecondStartMessage) may bring up the copy
// that runs for patient `running`: the same patient, or a start that names none.
bool SamePatientStart(qint64 requested, qint32 running);
// What the running copy tells its user when it was started again for another patient.
QString OtherPatientWarning(qint64 requested, qint32 running);

// Looks for a running copy; true when one was found, and the caller then ends the process
// with `exitCode`. A copy running for the patient of `arguments` (the command line without
// the program itself) is brought to the front (exit code 0); one running for another patient
// is left as it is and warns its user (kOtherPatientExitCode).
bool ActivatePreviousInstance(const QStringList& arguments, int* exitCode);
// Restores, raises and activates a window of any process; true when it did.
bool ForceForegroundWindow(platform::WindowHandle target);

// Values the main window takes from the command line and its start-up; they live until the
// process ends.
struct TStartupValues {
    qint32 PatientNr = 0;
    platform::WindowHandle HostWindow = 0;
    QString OutDir;
    QString ProgramDir; // folder of the executable, with a trailing "/"
    QString PatientDir; // OutDir + PatientNr + "/", only for a patient number above 0
    QString DpiText;
    QString ZoomText;
    quint32 MsgTransferred = 0;
    quint32 MsgNewImage = 0;
    bool CloseOnActivate = false;
};

class TRavlekMainForm : public QWidget {
    Q_OBJECT
public:
    // Works on `database` (the program's one, which must outlive the window; none for a
    // window without a database). `arguments` is the command line with the program itself first.
    explicit TRavlekMainForm(TXrayDatabase* database,
                             const QStringList& arguments = QCoreApplication::arguments(),
                             QWidget* parent = nullptr);
    ~TRavlekMainForm() override;

    // Creates the settings window hidden, linked to this window; it lives until this window closes.
    void CreateSettingsWindow();
    TfrmSettings* Settings() const { return m_settings.get(); }

    const TStartupValues& StartupValues() const { return m_startup; }
    // The first-activation marker: 0 until the first activation built the device list, then 1.
    int Tag() const { return m_tag; }
    // Full path of the working file the scanner writes the next image to.
    QString FileName() const { return m_fileName; }
    TDsd* Scanner() const { return m_scanner.get(); }
    TDeviceListController* Devices() const { return m_devices; }
    TPacsLink* Pacs() const { return m_pacs; }

    // Arms the open device for the next image in the format chosen in the settings window.
    void ScanImage();
    // The scanner control's end of an image: preview, hand-off to the patient folder, host notice.
    void ScannerEndOfImage(QObject* Sender, int scanStatus);
    void UpdateDeviceList(bool Rebuild);
    void btnSelectDevicesClick();
    // The title bar's help button: opens the settings window as a modal dialog.
    void HelpButtonClick();

    // Controls, in the window's order; the designer's names are their object names.
    QWidget* BottomPanel;            // Panel1
    TElidedLabel* OutDirLabel;       // Label1: "Outdir: " and OutDir, cut in the middle
    QLabel* PatientNrLabel;          // Label2: "Patientnr: " and PatientNr
    QPushButton* CloseButton;        // BitBtn1: "&Close"
    QCheckBox* DeleteSourceCheckBox; // CheckBox1: "After copying file, delete source file"
    TRadioGroup* ImageTypeList;      // RadioGroup1: "Imagetype", the devices
    QCheckBox* PreviewCheckBox;      // CheckBox2: "Preview image"
    QPushButton* btnGrabImage;
    QGroupBox* HardwareGroup; // GroupBox2, hidden: "Hardware settings"
    QLabel* KvUnitLabel;      // Label3: "kV"
    QLabel* MaUnitLabel;      // Label4: "mA"
    QLabel* MsUnitLabel;      // Label5: "mS"
    QLabel* KvLabel;          // Label6: the kV read-out
    QLabel* MaLabel;          // Label7: the mA read-out
    QLabel* MsLabel;          // Label8: the mS read-out
    QPushButton* btnDeviceSettings;
    QPushButton* btnSelectDevices;
    TWavPlayer* ReadySoundPlayer; // WavPlayer1: the ready sound
    // The help button inside the window, for window managers that show none in the title bar.
    QToolButton* HelpButton;
    QLabel* lblPacsQueue; // how many images wait for the PACS
    // "Stored: " and the name of the image the last hand-off stored, until the next scan begins.
    TElidedLabel* lblStored;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    // The controls follow the window's size: the image-type list takes the room gained, the
    // controls to its right and the bottom panel keep their distance to the window's edges.
    void placeControls();
    void orderTabStops();
    // The device reports that it reads the next image: what was stored last is no news.
    void StatusRead(int status);
    void FormCreate(const QStringList& arguments);
    void createScanner();
    void registerOnBus();
    // The running copy's answer to a second start (kSecondStartMessage).
    qint64 answerSecondStart(qint64 requestedPatient);
    void FormShow();
    void FormActivate();
    void FormClose();
    // Closes the window once no modal window is open any more; the user's work in them is kept.
    void closeWhenModalWindowsHaveReturned();
    void CheckBox1Click();
    void CheckBox2Click();
    // The scanner code of a failed arming step, none when the scan is armed.
    std::optional<int> armScan();
    void handOff();
    // Sends the host window one of its two messages, with the patient number, and logs it.
    void tellHost(quint32 message);
    // The information file's values for the image just stored under `newName`.
    ImageInformation describeImage(const QString& newName);

    TXrayDatabase* m_database;
    TStartupValues m_startup;
    QString m_fileName;
    int m_tag = 0;
    bool m_buildingList = false;
    bool m_closed = false;
    bool m_closeWaiting = false;
    // The controls right of the list, with their designed left edges.
    QList<std::pair<QWidget*, int>> m_rightColumn;
    TDeviceListController* m_devices;
    TPacsLink* m_pacs = nullptr;
    std::unique_ptr<TDsd> m_scanner;
    std::unique_ptr<TfrmSettings> m_settings;
    std::unique_ptr<platform::WindowRegistration> m_registration;
};
