#include "sim/SimulatedDsd.h"

#include "platform/Registry.h"
#include "scanner/ScannerStatus.h"
#include "sim/SimImageWriter.h"
#include "sim/SimRadiograph.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace {

const QString kDriverKey = QStringLiteral("SOFTWARE\\Soredex\\Dsd\\Uid");
constexpr int kNetworkType = 4;

// A value of the driver's own key in the machine-wide hive, as a real driver reads it;
// an empty text and 0 when it is missing.
platform::RegValue driverValue(const QString& name) {
    return platform::registry()
        .value(platform::Hive::LocalMachine, kDriverKey, name)
        .value_or(platform::RegValue());
}

int depthOf(qint32 imageFormat) {
    return (imageFormat >> 16) & 0xFFFF;
}

int formatCodeOf(qint32 imageFormat) {
    return imageFormat & 0xFFFF;
}

bool folderOfFileExists(const QString& path) {
    const QFileInfo file(path);
    return !path.isEmpty() && file.absoluteDir().exists() && !file.isDir();
}

// The patient number is the working folder's own name ("/images/123/" gives "123").
QString lastFolderName(const QString& workDir) {
    QString path = workDir;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.isEmpty() ? QString() : parts.last();
}

} // namespace

TSimulatedDsd::TSimulatedDsd(QObject* parent, QString simulatorFolder)
    : TDsd(parent)
    , m_catalogue(std::move(simulatorFolder))
    , m_watcher(new QFileSystemWatcher(this)) {
    m_autoExposure.setSingleShot(true);
    m_stageTimer.setSingleShot(true);
    connect(&m_autoExposure, &QTimer::timeout, this, [this] {
        m_exposureId = QStringLiteral("auto");
        startExposure();
    });
    connect(&m_stageTimer, &QTimer::timeout, this, &TSimulatedDsd::advanceExposure);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &TSimulatedDsd::onFolderChanged);
}

TSimulatedDsd::~TSimulatedDsd() {
    closeDevice();
}

std::optional<SimDevice> TSimulatedDsd::deviceForType(qint32 scannertype, qint32* failure) const {
    if (scannertype < 1) {
        *failure = ScannerCode::BadParm;
        return std::nullopt;
    }
    QString error;
    const QList<SimDevice> devices = m_catalogue.devices(&error);
    if (!error.isEmpty()) {
        *failure = ScannerCode::SystemError;
        return std::nullopt;
    }
    // In network mode the driver reaches the type-4 device at the address it was given.
    const platform::RegValue netMode = driverValue(QStringLiteral("NetMode"));
    const bool networkMode =
        scannertype == kNetworkType && netMode.type == platform::RegType::DWord && netMode.dword() == 1;
    QString address;
    if (networkMode) {
        address = driverValue(QStringLiteral("ScIP")).text().trimmed();
        if (address.isEmpty()) {
            *failure = ScannerCode::NoIpAddress;
            return std::nullopt;
        }
    }
    for (const SimDevice& device : devices) {
        if (device.type == scannertype &&
            (!networkMode || device.address.compare(address, Qt::CaseInsensitive) == 0))
            return device;
    }
    *failure = ScannerCode::Disconnected;
    return std::nullopt;
}

std::optional<int> TSimulatedDsd::fault(const QString& operation) const {
    return m_folder ? m_folder->takeFault(operation) : std::nullopt;
}

qint32 TSimulatedDsd::OpenScanner(qint32 scannertype, qint32 /*options*/, const QString& workDir) {
    qint32 failure = ScannerCode::Ok;
    const std::optional<SimDevice> device = deviceForType(scannertype, &failure);
    if (!device)
        return failure;
    return OpenDevice(*device, workDir);
}

qint32 TSimulatedDsd::OpenDevice(const SimDevice& device, const QString& workDir) {
    closeDevice();
    const SimDeviceFolder folder(m_catalogue.deviceFolder(device));
    if (const std::optional<int> code = folder.takeFault(QStringLiteral("OpenScanner")))
        return *code;
    std::optional<SimFileLock> lock = folder.tryOpen();
    if (!lock)
        return ScannerCode::AlreadyOpened;
    m_device = device;
    m_folder = folder;
    m_lock = std::move(lock);
    m_workDir = workDir;
    m_armed = false;
    m_exposureId.clear();
    m_exposureResult.clear();
    m_exposureCode = 0;
    // A request left over from an earlier holder is not meant for this opening.
    folder.dropExposureRequest();
    m_watcher->addPath(folder.path());
    setStatus(ScannerCode::Connected);
    return ScannerCode::Ok;
}

qint32 TSimulatedDsd::CloseScanner() {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("CloseScanner")))
        return *code;
    closeDevice();
    Q_EMIT statusChanged(ScannerCode::NotOpen);
    return ScannerCode::Ok;
}

void TSimulatedDsd::closeDevice() {
    if (!m_device)
        return;
    stopExposure();
    m_autoExposure.stop();
    m_armed = false;
    m_status = 0;
    report();
    m_watcher->removePaths(m_watcher->directories());
    m_lock.reset();
    m_folder.reset();
    m_device.reset();
}

qint32 TSimulatedDsd::GetScannerStatus() {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("GetScannerStatus")))
        return *code;
    return m_status;
}

qint32 TSimulatedDsd::SetImageFormat(qint32 imageFormat) {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("SetImageFormat")))
        return *code;
    const int depth = depthOf(imageFormat);
    const int format = formatCodeOf(imageFormat);
    if ((depth != 8 && depth != 12) || format < SimFormat::Raw || format > SimFormat::Dicom)
        return ScannerCode::BadParm;
    m_imageFormat = imageFormat;
    report();
    return ScannerCode::Ok;
}

qint32 TSimulatedDsd::SetImageStore(const QString& imageStore) {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("SetImageStore")))
        return *code;
    if (!folderOfFileExists(imageStore))
        return ScannerCode::InvalidPath;
    m_imageStore = imageStore;
    report();
    return ScannerCode::Ok;
}

qint32 TSimulatedDsd::ActivateScan(qint32 /*options*/) {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("ActivateScan")))
        return *code;
    if (m_imageStore.isEmpty())
        return ScannerCode::BadParm;
    // Arming anew gives up a scan in progress.
    stopExposure();
    m_armed = true;
    m_autoExposed = false;
    setStatus(ScannerCode::Connected);
    syncAutoExposure();
    return ScannerCode::Ok;
}

QString TSimulatedDsd::GetImageParms() {
    if (!m_device)
        return {};
    if (const std::optional<QString> configured = m_folder->config().params)
        return *configured;
    const SimModelTraits traits = SimTraitsOfType(m_device->type);
    const bool imageWritten = m_lastWidth > 0;
    const QStringList lines{
        QStringLiteral("DEVICE ") + m_device->model,
        QStringLiteral("IMAGETYPE ") + traits.imageType,
        QStringLiteral("PIXELSIZEH ") + QString::number(traits.pixelSizeMm),
        QStringLiteral("MAGFACTOR ") + QString::number(traits.magnification),
        QStringLiteral("WIDTH ") + QString::number(imageWritten ? m_lastWidth : traits.width),
        QStringLiteral("HEIGHT ") + QString::number(imageWritten ? m_lastHeight : traits.height),
        QStringLiteral("BITS ") + QString::number(imageWritten ? m_lastDepth : depthOf(m_imageFormat)),
    };
    return lines.join(QStringLiteral("\r\n"));
}

qint32 TSimulatedDsd::GetScannerVersion() {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("GetScannerVersion")))
        return *code;
    return SimTraitsOfType(m_device->type).version;
}

qint32 TSimulatedDsd::DiscardImage() {
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("DiscardImage")))
        return *code;
    return ScannerCode::Ok;
}

qint32 TSimulatedDsd::ActivateSetup(qint32 /*options*/) {
    // The simulated devices have no settings of their own to show.
    if (!m_device)
        return ScannerCode::NotOpen;
    if (const std::optional<int> code = fault(QStringLiteral("ActivateSetup")))
        return *code;
    return ScannerCode::Ok;
}

void TSimulatedDsd::setStatus(int status) {
    m_status = status;
    report();
    Q_EMIT statusChanged(status);
}

void TSimulatedDsd::report() {
    if (!m_folder)
        return;
    SimDeviceReport state;
    state.pid = m_status == 0 ? 0 : QCoreApplication::applicationPid();
    state.status = m_status;
    state.armed = m_armed;
    state.imageFormat = m_imageFormat;
    state.imageStore = m_imageStore;
    state.exposureId = m_exposureId;
    state.exposureResult = m_exposureResult;
    state.exposureCode = m_exposureCode;
    m_folder->writeReport(state);
}

void TSimulatedDsd::onFolderChanged() {
    if (!m_folder)
        return;
    if (const std::optional<QString> request = m_folder->takeExposureRequest()) {
        if (m_armed && m_stage == Stage::Idle) {
            m_exposureId = *request;
            startExposure();
        } else {
            // Not armed, or busy with a picture: nothing is exposed; ravlek-sim is told so.
            m_exposureId = *request;
            m_exposureResult = QStringLiteral("ignored");
            m_exposureCode = 0;
            report();
        }
    }
    syncAutoExposure();
}

void TSimulatedDsd::syncAutoExposure() {
    if (!m_folder)
        return;
    const std::optional<int> delay = m_folder->config().exposureDelayMs;
    const bool wanted = delay && m_armed && !m_autoExposed && m_stage == Stage::Idle;
    if (!wanted)
        m_autoExposure.stop();
    else if (!m_autoExposure.isActive())
        m_autoExposure.start(std::max(0, *delay));
}

void TSimulatedDsd::startExposure() {
    m_autoExposure.stop();
    m_autoExposed = true;
    m_stage = Stage::PlateInserted;
    m_exposureResult = QStringLiteral("running");
    m_exposureCode = 0;
    setStatus(ScannerCode::PlateInserted);
    m_stageTimer.start(std::max(0, m_folder->config().stageMs));
}

void TSimulatedDsd::advanceExposure() {
    if (m_stage == Stage::PlateInserted) {
        m_stage = Stage::ImageReadout;
        setStatus(ScannerCode::ImageReadout);
        m_stageTimer.start(std::max(0, m_folder->config().stageMs));
    } else if (m_stage == Stage::ImageReadout) {
        finishExposure();
    }
}

void TSimulatedDsd::finishExposure() {
    m_stage = Stage::Idle;
    int code = ScannerCode::Ok;
    if (const std::optional<int> failure = fault(QStringLiteral("EndOfImage"))) {
        code = *failure;
    } else if (!folderOfFileExists(m_imageStore)) {
        code = ScannerCode::InvalidPath;
    } else {
        const SimDeviceConfig config = m_folder->config();
        const SimModelTraits traits = SimTraitsOfType(m_device->type);
        const SimPicture picture =
            SynthesizeRadiograph(traits.kind, traits.width, traits.height, config.seed);
        const int depth = formatCodeOf(m_imageFormat) == SimFormat::Dib ? 8 : depthOf(m_imageFormat);
        const SimImageMeta meta{m_device->model, traits.imageType, traits.pixelSizeMm,
                                lastFolderName(m_workDir), traits.magnification};
        if (WriteSimImage(m_imageStore, picture, formatCodeOf(m_imageFormat), depth, meta).isEmpty()) {
            m_lastWidth = picture.width;
            m_lastHeight = picture.height;
            m_lastDepth = depth;
        } else {
            code = ScannerCode::SystemError;
        }
    }
    m_exposureResult = QStringLiteral("done");
    m_exposureCode = code;
    setStatus(ScannerCode::Connected);
    Q_EMIT OnEndOfImage(this, code);
}

void TSimulatedDsd::stopExposure() {
    m_stageTimer.stop();
    m_stage = Stage::Idle;
}

void RegisterSimulatedDriver() {
    RegisterScannerControl(CLASS_Dsd, [](QObject* parent) -> std::unique_ptr<TDsd> {
        const QString failure = qEnvironmentVariable("KELVO_SIM_FAIL_CREATE");
        if (!failure.isEmpty())
            throw ScannerControlError(failure == QStringLiteral("1") ? QStringLiteral("Class not registered")
                                                                     : failure);
        return std::make_unique<TSimulatedDsd>(parent);
    });
}
