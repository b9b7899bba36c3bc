#pragma once

// The main window's image-type list: building and refreshing it, connecting to the chosen
// device with the workstation locks, the ready sound, and the three timers that keep the
// list current. The main window forwards its events here; the logic needs no window of
// its own, so tests drive it with a bare radio group.

#include "database/XrayDatabase.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <stdexcept>

class QTimer;
class QWidget;
class TDsd;
class TRadioGroup;
class TWavPlayer;

// ---- Item texts -------------------------------------------------------------------------

// The word of a scanner code, as the list shows it.
QString StatusWordText(int code);
// Type 8, which has no label: DT + ": " + W(code).
QString SingleDeviceItemText(const QString& stationName, int code);
// A register device that was opened, or whose opening failed without holders: DT + " - " + L + ": " +
// W(code).
QString DeviceItemText(const QString& stationName, const QString& label, int code);
// A register device held by another workstation.
QString HeldDeviceItemText(const QString& stationName, const QString& label, const QString& holders);
// A register device whose opening failed with `code`; the holders follow when there is one.
QString FailedDeviceItemText(const QString& stationName, const QString& label, int code,
                             const TDeviceInformation& information);

// Whether "ConnectTo" chooses the type: it contains "¤" + type + "¤".
bool DeviceTypeChosen(const QString& connectTo, int type);
// The station name of a type: the "DigoraDevices" setting under its number ("ERROR" when missing).
QString StationNameOfType(int type);
// Points the device maker's driver at a device: for type 4 in the driver's network mode
// ("NetMode" 1) the device's address is written as "ScIP"; otherwise nothing is written.
void PointDriverAtDevice(int type, const QString& ipAddress);

// The device type that is not registered and not shared.
inline constexpr int kSingleDeviceType = 8;
inline constexpr int kHighestDeviceType = 12;

// What the list needs of the main window.
struct TDeviceListLinks {
    TRadioGroup* ImageTypeList = nullptr; // the main window's RadioGroup1
    QWidget* btnDeviceSettings = nullptr;
    TWavPlayer* ReadySoundPlayer = nullptr; // the main window's WavPlayer1
    // The practice database; none when the program has none.
    TXrayDatabase* Database = nullptr;
    // Arms the opened device for the next image.
    std::function<void()> ScanImage;
    // The main window's first-activation marker: 0 until the list was first built, then 1.
    std::function<int()> FirstActivationMarker;
};

class TDeviceListController : public QObject {
    Q_OBJECT
public:
    explicit TDeviceListController(TDeviceListLinks links, QObject* parent = nullptr);
    ~TDeviceListController() override;

    // The scanner control, or none when it could not be created; set once at start.
    void SetScanner(TDsd* scanner) { m_scanner = scanner; }
    TDsd* Scanner() const { return m_scanner; }
    // The patient folder handed to the control as its working directory.
    void SetPatientDir(const QString& patientDir) { m_patientDir = patientDir; }

    bool ScannerConnected() const { return m_scannerConnected; }
    // Raised while the list is being changed: the list's click (and the settings window's
    // format buttons) ignore their events meanwhile. Without a scanner control it stays
    // raised after the first build, which leaves the list inert.
    bool Updating() const { return m_updating; }
    // STATIONID of the last register row a rebuild found free to probe.
    QString gstationID() const { return m_gstationID; }
    // The device labels: entry i - 1 belongs to item i (the type-8 item has an empty one).
    const QStringList& ScannerLabels() const { return m_scannerLabels; }
    void ClearScannerLabels() { m_scannerLabels.clear(); }

    // The three timers; the designer's names Timer1, Timer2, Timer3 are their object names.
    QTimer* StatusTimer() const { return m_statusTimer; }   // the open device's status every second
    QTimer* RetryTimer() const { return m_retryTimer; }     // one more try after 5 s
    QTimer* RefreshTimer() const { return m_refreshTimer; } // the whole list every 5 s while idle
    void StopTimers();

    // Builds the list from scratch (true) or refreshes the texts of the unselected items.
    void UpdateDeviceList(bool Rebuild);
    // The list's click; `Sender` is the radio group for a choice and Timer2 for a retry,
    // which keeps this computer's places in the lock queues.
    void RadioGroup1Click(QObject* Sender);
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void btnDeviceSettingsClick();
    // Gives up every lock and queue place of this computer, after closing the device.
    void RemoveOwnLocks();

Q_SIGNALS:
    // The open device's status, as Timer1 read it.
    void StatusRead(int status);

private:
    class BusyScope;

    // The lock protocol of the database, or none.
    TDeviceLocks* locks() const;
    TDeviceInformation deviceInformation(const QString& stationName, const QString& label);
    // Opens the device, reads its status and closes it again; the status on success,
    // otherwise the failure code in `failure`.
    std::optional<int> probe(int type, int* failure);
    void addDevice(const QString& text, int type, const QString& label);
    void rebuildType(int type);
    void refreshItem(int index);
    void selectAfterUpdate(bool Rebuild);
    void connectSingleDevice(int index);
    void connectRegisterDevice(int index, int type);
    void playReadySound();
    // Closes the control's device; the log tells of the one this workstation had opened.
    void closeScanner();
    void logClosed();
    // Logs the outcome of connecting to the chosen device: opened, held by another
    // workstation, or not opened. A retry that ends as the attempt before it did adds nothing,
    // so that a device held for an hour does not fill the log.
    void logConnectOutcome(QtMsgType type, const QString& text);
    void logOpened(const QString& device, int openResult);
    // Reconnects a lost database connection (TXrayDatabase::KeepConnected); true when connected.
    bool keepDatabase(bool now);
    // Every few seconds while a register device is open: the lock list must name this
    // workstation as its holder. A failed look-up reports an outage; when the list names
    // nobody the lock is taken again, and when it names another workstation the device is
    // given up to it.
    void verifyHeldDevice(int index, int type);
    void yieldDevice(int index, const QString& stationName, const QString& label,
                     const TDeviceInformation& information);
    // Runs a timer's work unless an earlier run of any list work still waits in a message box.
    void runTimerHandler(const std::function<void()>& handler);

    TDeviceListLinks m_links;
    TDsd* m_scanner = nullptr;
    QString m_patientDir;
    bool m_scannerConnected = false;
    QString m_openDevice; // the device opened here and not yet closed, as the log names it
    QString m_lastConnectOutcome;
    bool m_updating = false;
    QString m_gstationID;
    QStringList m_scannerLabels;
    QTimer* m_statusTimer;
    QTimer* m_retryTimer;
    QTimer* m_refreshTimer;
    int m_busy = 0;
    int m_ticksSinceLockCheck = 0;
};
