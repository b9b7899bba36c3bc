#include "sim/SimDeviceFolder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdio>

namespace {

const QString kLockFile = QStringLiteral("open.lock");
const QString kConfigFile = QStringLiteral("config.json");
const QString kConfigLock = QStringLiteral("config.lock");
const QString kReportFile = QStringLiteral("state.json");
const QString kExposeFile = QStringLiteral("expose");

QJsonObject configToJson(const SimDeviceConfig& config) {
    QJsonObject faults;
    for (auto it = config.faults.cbegin(); it != config.faults.cend(); ++it)
        faults.insert(it.key(), QJsonObject{{QStringLiteral("code"), it->code},
                                            {QStringLiteral("remaining"), it->remaining}});
    QJsonObject object{{QStringLiteral("faults"), faults},
                       {QStringLiteral("stageMs"), config.stageMs},
                       {QStringLiteral("seed"), static_cast<qint64>(config.seed)}};
    if (config.params)
        object.insert(QStringLiteral("params"), *config.params);
    if (config.exposureDelayMs)
        object.insert(QStringLiteral("exposureDelayMs"), *config.exposureDelayMs);
    return object;
}

SimDeviceConfig configFromJson(const QJsonObject& object) {
    SimDeviceConfig config;
    const QJsonObject faults = object.value(QStringLiteral("faults")).toObject();
    for (auto it = faults.constBegin(); it != faults.constEnd(); ++it) {
        const QJsonObject fault = it.value().toObject();
        config.faults.insert(it.key(), SimFault{fault.value(QStringLiteral("code")).toInt(),
                                                fault.value(QStringLiteral("remaining")).toInt(-1)});
    }
    if (object.contains(QStringLiteral("params")))
        config.params = object.value(QStringLiteral("params")).toString();
    if (object.contains(QStringLiteral("exposureDelayMs")))
        config.exposureDelayMs = object.value(QStringLiteral("exposureDelayMs")).toInt();
    config.stageMs = object.value(QStringLiteral("stageMs")).toInt(config.stageMs);
    config.seed = static_cast<quint32>(object.value(QStringLiteral("seed")).toInteger(config.seed));
    return config;
}

QJsonObject readJsonObject(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

const QStringList& SimOperationNames() {
    static const QStringList names{QStringLiteral("OpenScanner"),       QStringLiteral("CloseScanner"),
                                   QStringLiteral("GetScannerStatus"),  QStringLiteral("SetImageFormat"),
                                   QStringLiteral("SetImageStore"),     QStringLiteral("ActivateScan"),
                                   QStringLiteral("GetScannerVersion"), QStringLiteral("DiscardImage"),
                                   QStringLiteral("ActivateSetup"),     QStringLiteral("EndOfImage")};
    return names;
}

QString SimOperationName(const QString& name) {
    for (const QString& known : SimOperationNames()) {
        if (known.compare(name, Qt::CaseInsensitive) == 0)
            return known;
    }
    return {};
}

SimDeviceFolder::SimDeviceFolder(QString path)
    : m_path(std::move(path)) {}

bool SimDeviceFolder::writeAtomically(const QString& name, const QByteArray& content) const {
    // A device's files are runtime state: a reader must never see half a file, but nothing
    // needs to survive a power cut, so the file is renamed into place without a flush (a
    // flush on every open and close made probing a list of devices crawl).
    QDir().mkpath(m_path);
    const QString target = file(name);
    QFile out(target + QStringLiteral(".tmp-") + QUuid::createUuid().toString(QUuid::Id128));
    const bool written =
        out.open(QIODevice::WriteOnly) && out.write(content) == content.size() && out.flush();
    out.close();
    if (!written || std::rename(QFile::encodeName(out.fileName()).constData(),
                                QFile::encodeName(target).constData()) != 0) {
        out.remove();
        return false;
    }
    return true;
}

std::optional<SimFileLock> SimDeviceFolder::tryOpen() const {
    QDir().mkpath(m_path);
    return SimFileLock::tryAcquire(file(kLockFile));
}

bool SimDeviceFolder::isOpen() const {
    return QFile::exists(file(kLockFile)) && SimFileLock::isHeld(file(kLockFile));
}

qint64 SimDeviceFolder::openedBy() const {
    return isOpen() ? SimFileLock::recordedHolder(file(kLockFile)) : 0;
}

SimDeviceConfig SimDeviceFolder::config() const {
    return configFromJson(readJsonObject(file(kConfigFile)));
}

bool SimDeviceFolder::updateConfig(const std::function<void(SimDeviceConfig&)>& change) const {
    QDir().mkpath(m_path);
    const std::optional<SimFileLock> lock = SimFileLock::acquire(file(kConfigLock));
    if (!lock)
        return false;
    SimDeviceConfig current = config();
    change(current);
    return writeAtomically(kConfigFile, QJsonDocument(configToJson(current)).toJson());
}

std::optional<int> SimDeviceFolder::takeFault(const QString& operation) const {
    // Most calls find no fault; only a counted one needs the read-modify-write.
    const SimDeviceConfig seen = config();
    const auto fault = seen.faults.constFind(operation);
    if (fault == seen.faults.cend())
        return std::nullopt;
    if (fault->remaining < 0)
        return fault->code;
    std::optional<int> taken;
    updateConfig([&](SimDeviceConfig& current) {
        auto counted = current.faults.find(operation);
        if (counted == current.faults.end())
            return;
        taken = counted->code;
        if (--counted->remaining <= 0)
            current.faults.erase(counted);
    });
    return taken;
}

void SimDeviceFolder::writeReport(const SimDeviceReport& report) const {
    const QJsonObject object{{QStringLiteral("pid"), report.pid},
                             {QStringLiteral("status"), report.status},
                             {QStringLiteral("armed"), report.armed},
                             {QStringLiteral("imageFormat"), report.imageFormat},
                             {QStringLiteral("imageStore"), report.imageStore},
                             {QStringLiteral("exposureId"), report.exposureId},
                             {QStringLiteral("exposureResult"), report.exposureResult},
                             {QStringLiteral("exposureCode"), report.exposureCode}};
    writeAtomically(kReportFile, QJsonDocument(object).toJson());
}

std::optional<SimDeviceReport> SimDeviceFolder::report() const {
    if (!QFile::exists(file(kReportFile)))
        return std::nullopt;
    const QJsonObject object = readJsonObject(file(kReportFile));
    SimDeviceReport report;
    report.pid = object.value(QStringLiteral("pid")).toInteger();
    report.status = object.value(QStringLiteral("status")).toInt();
    report.armed = object.value(QStringLiteral("armed")).toBool();
    report.imageFormat = object.value(QStringLiteral("imageFormat")).toInt();
    report.imageStore = object.value(QStringLiteral("imageStore")).toString();
    report.exposureId = object.value(QStringLiteral("exposureId")).toString();
    report.exposureResult = object.value(QStringLiteral("exposureResult")).toString();
    report.exposureCode = object.value(QStringLiteral("exposureCode")).toInt();
    return report;
}

std::optional<QString> SimDeviceFolder::requestExposure() const {
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!writeAtomically(kExposeFile, id.toUtf8()))
        return std::nullopt;
    return id;
}

std::optional<QString> SimDeviceFolder::takeExposureRequest() const {
    QFile request(file(kExposeFile));
    if (!request.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString id = QString::fromUtf8(request.readAll()).trimmed();
    request.close();
    request.remove();
    return id;
}

void SimDeviceFolder::dropExposureRequest() const {
    QFile::remove(file(kExposeFile));
}
