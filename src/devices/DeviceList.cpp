#include "devices/DeviceList.h"

#include "devices/TRadioGroup.h"
#include "platform/Logging.h"
#include "scanner/DSDLib_TLB.h"
#include "scanner/ScannerStatus.h"
#include "sound/WavPlayer.h"
#include "tools/DesignerNames.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoSettings.h"

#include <QTimer>
#include <QWidget>

namespace {

const QString kDevicesSection = QStringLiteral("DigoraDevices");
const QString kXRaySection = QStringLiteral("XRay");
const QString kDriverKey = QStringLiteral("SOFTWARE\\Soredex\\Dsd\\Uid");
constexpr int kNetworkDeviceType = 4;
constexpr int kStatusInterval = 1000;
constexpr int kRetryInterval = 5000;
constexpr int kRefreshInterval = 5000;
// The open device's lock is looked at every this many status ticks.
constexpr int kStatusTicksPerLockCheck = 5;

// A device as the log names it: the station name, and the label of a registered device.
QString deviceName(const QString& stationName, const QString& label = {}) {
    return label.isEmpty() ? stationName : stationName + QStringLiteral(" - ") + label;
}

} // namespace

// ---- Item texts -------------------------------------------------------------------------

QString StatusWordText(int code) {
    return ScannerStatusWord(code);
}

QString SingleDeviceItemText(const QString& stationName, int code) {
    return stationName + QStringLiteral(": ") + StatusWordText(code);
}

QString DeviceItemText(const QString& stationName, const QString& label, int code) {
    return stationName + QStringLiteral(" - ") + label + QStringLiteral(": ") + StatusWordText(code);
}

QString HeldDeviceItemText(const QString& stationName, const QString& label, const QString& holders) {
    return stationName + QStringLiteral(" - ") + label + QStringLiteral(": ALREADYOPENED") +
           QLatin1Char('\r') + QStringLiteral("Connected to - ") + holders;
}

QString FailedDeviceItemText(const QString& stationName, const QString& label, int code,
                             const TDeviceInformation& information) {
    QString text = DeviceItemText(stationName, label, code);
    if (!information.FirstHolder.isEmpty())
        text += QLatin1Char('\r') + QStringLiteral("Connected to - ") + information.Holders;
    return text;
}

bool DeviceTypeChosen(const QString& connectTo, int type) {
    const QString mark = QStringLiteral("\u00A4");
    return connectTo.contains(mark + QString::number(type) + mark);
}

QString StationNameOfType(int type) {
    return ReadSetting(kDevicesSection, QString::number(type));
}

void PointDriverAtDevice(int type, const QString& ipAddress) {
    if (type != kNetworkDeviceType)
        return;
    if (ReadRegDWord(platform::Hive::LocalMachine, kDriverKey, QStringLiteral("NetMode")) == 1)
        WriteRegString(platform::Hive::LocalMachine, kDriverKey, QStringLiteral("ScIP"), ipAddress);
}

// ---- The controller ---------------------------------------------------------------------

// Marks list work in progress, so that a timer does not start the list's work again while
// an earlier run waits in a message box (the timers keep firing under a modal box).
class TDeviceListController::BusyScope {
public:
    explicit BusyScope(TDeviceListController& owner)
        : m_owner(owner) {
        ++m_owner.m_busy;
    }
    ~BusyScope() { --m_owner.m_busy; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TDeviceListController& m_owner;
};

TDeviceListController::TDeviceListController(TDeviceListLinks links, QObject* parent)
    : QObject(parent)
    , m_links(std::move(links))
    , m_statusTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_refreshTimer(new QTimer(this)) {
    KeepDesignerNames({{m_statusTimer, "Timer1"}, {m_retryTimer, "Timer2"}, {m_refreshTimer, "Timer3"}});
    m_statusTimer->setInterval(kStatusInterval);
    m_retryTimer->setInterval(kRetryInterval);
    m_refreshTimer->setInterval(kRefreshInterval);
    connect(m_statusTimer, &QTimer::timeout, this, &TDeviceListController::Timer1Timer);
    connect(m_retryTimer, &QTimer::timeout, this, &TDeviceListController::Timer2Timer);
    connect(m_refreshTimer, &QTimer::timeout, this, &TDeviceListController::Timer3Timer);
}

TDeviceListController::~TDeviceListController() {
    // The control closes its device as it goes, with the main window.
    logClosed();
}

void TDeviceListController::StopTimers() {
    m_statusTimer->stop();
    m_retryTimer->stop();
    m_refreshTimer->stop();
}

TDeviceLocks* TDeviceListController::locks() const {
    return m_links.Database ? &m_links.Database->Locks() : nullptr;
}

TDeviceInformation TDeviceListController::deviceInformation(const QString& stationName,
                                                            const QString& label) {
    TDeviceLocks* lockList = locks();
    if (!lockList)
        return {};
    return lockList->GetDeviceInformation(GetWorkstationName(), stationName, label);
}

std::optional<int> TDeviceListController::probe(int type, int* failure) {
    const int options = type == kSingleDeviceType ? 0 : 1;
    const int opened = m_scanner->OpenScanner(type, options, m_patientDir);
    if (opened != ScannerCode::Ok) {
        qCDebug(lcDevice).noquote()
            << QStringLiteral("Looked at type %1: %2").arg(type).arg(StatusWordText(opened));
        *failure = opened;
        return std::nullopt;
    }
    const int status = m_scanner->GetScannerStatus();
    m_scanner->CloseScanner();
    qCDebug(lcDevice).noquote()
        << QStringLiteral("Looked at type %1: %2").arg(type).arg(StatusWordText(status));
    return status;
}

// The item and its label go in together, so that item i keeps label i - 1.
void TDeviceListController::addDevice(const QString& text, int type, const QString& label) {
    m_links.ImageTypeList->AddItem(text, type);
    m_scannerLabels.append(label);
}

void TDeviceListController::UpdateDeviceList(bool Rebuild) {
    const BusyScope busy(*this);
    TRadioGroup& list = *m_links.ImageTypeList;
    m_updating = true;
    if (Rebuild) {
        list.Clear();
        list.AddItem(QStringLiteral("(Idle)"), 0);
        m_scannerLabels.clear();
    }
    // Without a scanner control the list stays inert: the busy flag is not lowered again.
    if (!m_scanner)
        return;
    m_scanner->CloseScanner();
    const QString connectTo = ReadSetting(kDevicesSection, QStringLiteral("ConnectTo"));
    if (Rebuild) {
        for (int type = 1; type <= kHighestDeviceType; ++type) {
            if (!DeviceTypeChosen(connectTo, type))
                continue;
            try {
                rebuildType(type);
            } catch (...) {
                // A type that fails (a query that cannot be opened) is left out; the next goes on.
            }
        }
    } else {
        const int selected = list.ItemIndex();
        for (int index = 0; index < list.Count(); ++index) {
            if (index == selected || !DeviceTypeChosen(connectTo, list.ItemObject(index)))
                continue;
            try {
                refreshItem(index);
            } catch (...) {
                // The item keeps its old text; the next goes on.
            }
        }
    }
    m_updating = false;
    selectAfterUpdate(Rebuild);
}

void TDeviceListController::rebuildType(int type) {
    const QString stationName = StationNameOfType(type);
    int failure = 0;
    if (type == kSingleDeviceType) {
        const std::optional<int> status = probe(type, &failure);
        // The type-8 item has no label of its own; an empty entry keeps the items after it aligned.
        addDevice(SingleDeviceItemText(stationName, status.value_or(failure)), type, QString());
        return;
    }
    TDeviceLocks* lockList = locks();
    if (!lockList)
        return;
    const QList<TRegisterRow> rows = lockList->RegisteredDevices(GetWorkstationName(), stationName);
    for (const TRegisterRow& row : rows) {
        const QString& label = row.XrayStationId;
        const TDeviceInformation information = deviceInformation(row.XrayStation, label);
        if (information.HeldByAnother()) {
            addDevice(HeldDeviceItemText(stationName, label, information.Holders), type, label);
            continue;
        }
        m_gstationID = row.StationId;
        PointDriverAtDevice(type, row.IpAddress);
        if (const std::optional<int> status = probe(type, &failure)) {
            addDevice(DeviceItemText(stationName, label, *status), type, label);
        } else {
            const TDeviceInformation after = deviceInformation(stationName, label);
            addDevice(FailedDeviceItemText(stationName, label, failure, after), type, label);
        }
    }
}

// A refresh never points the driver at a device: the address stays that of the last choice.
void TDeviceListController::refreshItem(int index) {
    TRadioGroup& list = *m_links.ImageTypeList;
    const int type = list.ItemObject(index);
    const QString stationName = StationNameOfType(type);
    int failure = 0;
    if (type == kSingleDeviceType) {
        const std::optional<int> status = probe(type, &failure);
        list.SetItemText(index, SingleDeviceItemText(stationName, status.value_or(failure)));
        return;
    }
    const QString label = m_scannerLabels.value(index - 1);
    const TDeviceInformation information = deviceInformation(stationName, label);
    if (information.HeldByAnother()) {
        list.SetItemText(index, HeldDeviceItemText(stationName, label, information.Holders));
        return;
    }
    if (const std::optional<int> status = probe(type, &failure)) {
        list.SetItemText(index, DeviceItemText(stationName, label, *status));
    } else {
        const TDeviceInformation after = deviceInformation(stationName, label);
        list.SetItemText(index, FailedDeviceItemText(stationName, label, failure, after));
    }
}

void TDeviceListController::selectAfterUpdate(bool Rebuild) {
    TRadioGroup& list = *m_links.ImageTypeList;
    const int marker = m_links.FirstActivationMarker ? m_links.FirstActivationMarker() : 1;
    if (Rebuild && marker == 1) {
        bool ok = false;
        const int stored = ReadSetting(kXRaySection, QStringLiteral("Imagetype")).toInt(&ok);
        list.SetItemIndex(ok ? stored : 0);
    } else if (marker == 0) {
        list.SetItemIndex(list.Count() == 2 ? 1 : 0);
    }
}

void TDeviceListController::RadioGroup1Click(QObject* Sender) {
    // Without a scanner control the list does nothing.
    if (m_updating || !m_scanner)
        return;
    const BusyScope busy(*this);
    TRadioGroup& list = *m_links.ImageTypeList;
    const int index = list.ItemIndex();
    WriteSetting(kXRaySection, QStringLiteral("Imagetype"), QString::number(index));
    StopTimers();
    // A retry's outcome is logged when it differs from the attempt before; a choice's always.
    if (Sender != m_retryTimer)
        m_lastConnectOutcome.clear();
    if (Sender == &list)
        RemoveOwnLocks();
    if (index <= 0) {
        closeScanner();
        m_scannerConnected = false;
        UpdateDeviceList(false);
        m_refreshTimer->start();
        m_links.btnDeviceSettings->setEnabled(false);
        return;
    }
    closeScanner();
    if (m_scannerConnected) {
        m_scannerConnected = false;
        UpdateDeviceList(false);
    }
    const int type = list.ItemObject(index);
    if (type == kSingleDeviceType)
        connectSingleDevice(index);
    else
        connectRegisterDevice(index, type);
}

// Type 8 is nobody else's: no lock is read or written, and no sound is played.
void TDeviceListController::connectSingleDevice(int index) {
    TRadioGroup& list = *m_links.ImageTypeList;
    const QString stationName = StationNameOfType(kSingleDeviceType);
    const int opened = m_scanner->OpenScanner(kSingleDeviceType, 0, m_patientDir);
    logOpened(deviceName(stationName), opened);
    if (opened != ScannerCode::Ok) {
        m_retryTimer->start();
        list.SetItemText(index, SingleDeviceItemText(stationName, opened));
        return;
    }
    m_scannerConnected = true;
    list.SetItemText(index, SingleDeviceItemText(stationName, m_scanner->GetScannerStatus()));
    m_links.btnDeviceSettings->setEnabled(true);
    m_statusTimer->start();
    m_links.ScanImage();
}

// The look-up of the holder, the opening and the taking of the lock are one step of the
// lock list (ClaimDevice), so two workstations can never both take a free device.
void TDeviceListController::connectRegisterDevice(int index, int type) {
    TRadioGroup& list = *m_links.ImageTypeList;
    const QString stationName = StationNameOfType(type);
    const QString label = m_scannerLabels.value(index - 1);
    const auto open = [&](const TDeviceInformation& information) {
        PointDriverAtDevice(type, information.IpAddress);
        return int(m_scanner->OpenScanner(type, 1, m_patientDir));
    };
    TDeviceLocks::TClaim claim;
    if (TDeviceLocks* lockList = locks()) {
        keepDatabase(false);
        claim = lockList->ClaimDevice(GetWorkstationName(), stationName, label, open);
    } else {
        claim.OpenResult = open(claim.Information);
    }

    // Without the lock list nobody can tell who holds the device: the next retry tries again.
    if (claim.NotConnected) {
        m_retryTimer->start();
        return;
    }
    if (claim.HeldByAnother) {
        logConnectOutcome(QtInfoMsg, QStringLiteral("%1 is held by %2; queued, trying again every %3 s")
                                         .arg(deviceName(stationName, label), claim.Information.Holders)
                                         .arg(kRetryInterval / 1000));
        m_retryTimer->start();
        list.SetItemText(index, HeldDeviceItemText(stationName, label, claim.Information.Holders));
        return;
    }
    logOpened(deviceName(stationName, label), claim.OpenResult);
    if (claim.OpenResult != ScannerCode::Ok) {
        m_retryTimer->start();
        const TDeviceInformation after = deviceInformation(stationName, label);
        list.SetItemText(index, FailedDeviceItemText(stationName, label, claim.OpenResult, after));
        return;
    }
    m_scannerConnected = true;
    playReadySound();
    list.SetItemText(index, DeviceItemText(stationName, label, m_scanner->GetScannerStatus()));
    m_links.btnDeviceSettings->setEnabled(true);
    m_ticksSinceLockCheck = 0;
    m_statusTimer->start();
    m_links.ScanImage();
}

bool TDeviceListController::keepDatabase(bool now) {
    return m_links.Database && m_links.Database->KeepConnected(now);
}

void TDeviceListController::verifyHeldDevice(int index, int type) {
    TDeviceLocks* lockList = locks();
    if (!lockList || type == kSingleDeviceType || !m_scannerConnected ||
        ++m_ticksSinceLockCheck < kStatusTicksPerLockCheck)
        return;
    m_ticksSinceLockCheck = 0;
    if (!keepDatabase(false))
        return;
    const QString stationName = StationNameOfType(type);
    const QString label = m_scannerLabels.value(index - 1);
    const TDeviceInformation information = deviceInformation(stationName, label);
    if (information.Failed || information.OwnStation.isEmpty() ||
        information.FirstHolder == information.OwnStation)
        return;
    // The device is open here already; the claim only writes the lock, or finds it held.
    const TDeviceLocks::TClaim claim =
        lockList->ClaimDevice(GetWorkstationName(), stationName, label,
                              [](const TDeviceInformation&) { return int(ScannerCode::Ok); });
    if (claim.HeldByAnother)
        yieldDevice(index, stationName, label, claim.Information);
}

// The lock list is what every workstation goes by: while it names another holder, this one
// must not keep the device. It closes it, waits in the queue (the claim queued it), and says so.
void TDeviceListController::yieldDevice(int index, const QString& stationName, const QString& label,
                                        const TDeviceInformation& information) {
    m_statusTimer->stop();
    closeScanner();
    m_scannerConnected = false;
    m_links.btnDeviceSettings->setEnabled(false);
    m_links.ImageTypeList->SetItemText(index, HeldDeviceItemText(stationName, label, information.Holders));
    m_retryTimer->start();
    InformationMessage(
        QStringLiteral("The lock list names another workstation (%1) as the holder of %2 - %3.")
            .arg(information.FirstHolder, stationName, label) +
        QStringLiteral("\r\rThe device has been closed here; this workstation waits for its turn."));
}

void TDeviceListController::playReadySound() {
    if (!m_links.ReadySoundPlayer ||
        !SettingIsTrue(ReadSetting(kXRaySection, QStringLiteral("PlaySoundWhenScannerIsReady")), true))
        return;
    try {
        m_links.ReadySoundPlayer->Play();
    } catch (...) {
        // The sound is a courtesy; the device is open whether it plays or not.
    }
}

void TDeviceListController::closeScanner() {
    m_scanner->CloseScanner();
    logClosed();
}

void TDeviceListController::logClosed() {
    if (!m_openDevice.isEmpty())
        qCInfo(lcDevice).noquote() << QStringLiteral("Closed ") + m_openDevice;
    m_openDevice.clear();
}

void TDeviceListController::logConnectOutcome(QtMsgType type, const QString& text) {
    if (text == m_lastConnectOutcome)
        return;
    m_lastConnectOutcome = text;
    if (type == QtWarningMsg)
        qCWarning(lcDevice).noquote() << text;
    else
        qCInfo(lcDevice).noquote() << text;
}

void TDeviceListController::logOpened(const QString& device, int openResult) {
    if (openResult == ScannerCode::Ok) {
        m_openDevice = device;
        logConnectOutcome(QtInfoMsg, QStringLiteral("Opened ") + device);
        return;
    }
    logConnectOutcome(QtWarningMsg, QStringLiteral("Could not open %1: %2 (%3); trying again every %4 s")
                                        .arg(device, StatusWordText(openResult))
                                        .arg(openResult)
                                        .arg(kRetryInterval / 1000));
}

// Given up deliberately (a choice, the close), so a lost connection is tried again at once:
// a lock row left behind would keep every other workstation from the device. The device is
// closed first: once the row is gone the list names the next in the queue as the holder,
// and it must not name a holder while this workstation still has the device open.
void TDeviceListController::RemoveOwnLocks() {
    if (TDeviceLocks* lockList = locks()) {
        if (m_scanner)
            closeScanner();
        keepDatabase(true);
        lockList->RemoveOwnLocks(GetWorkstationName());
    }
}

void TDeviceListController::runTimerHandler(const std::function<void()>& handler) {
    if (m_busy > 0)
        return;
    const BusyScope busy(*this);
    try {
        handler();
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
    }
}

void TDeviceListController::Timer1Timer() {
    runTimerHandler([this] {
        TRadioGroup& list = *m_links.ImageTypeList;
        const int index = list.ItemIndex();
        if (index <= 0 || !m_scanner)
            return;
        const int type = list.ItemObject(index);
        const QString stationName = StationNameOfType(type);
        const int status = m_scanner->GetScannerStatus();
        if (type == kSingleDeviceType)
            list.SetItemText(index, SingleDeviceItemText(stationName, status));
        else
            list.SetItemText(index, DeviceItemText(stationName, m_scannerLabels.value(index - 1), status));
        Q_EMIT StatusRead(status);
        verifyHeldDevice(index, type);
    });
}

void TDeviceListController::Timer2Timer() {
    runTimerHandler([this] {
        m_retryTimer->stop();
        if (m_links.ImageTypeList->ItemIndex() > 0)
            RadioGroup1Click(m_retryTimer);
    });
}

void TDeviceListController::Timer3Timer() {
    runTimerHandler([this] {
        keepDatabase(false);
        UpdateDeviceList(false);
    });
}

void TDeviceListController::btnDeviceSettingsClick() {
    if (m_scanner)
        m_scanner->ActivateSetup(0);
}
