#include "sim/SimCatalogue.h"

#include "platform/Paths.h"
#include "sim/SimFileLock.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <array>

namespace {

struct TypeEntry {
    const char16_t* model;
    SimModelTraits traits;
};

// Plates and sensors give intraoral pictures, the panoramic units a full jaw.
const std::array<TypeEntry, 8>& typeTable() {
    static const std::array<TypeEntry, 8> table{{
        {u"Digora", {QStringLiteral("INTRAORAL"), 0.085, 1.0, 380, 500, 210, RadiographKind::Intraoral}},
        {u"Digora PCT", {QStringLiteral("PANORAMIC"), 0.1, 1.25, 1200, 600, 320, RadiographKind::Panoramic}},
        {u"Cranex PDC", {QStringLiteral("PANORAMIC"), 0.1, 1.25, 1200, 600, 330, RadiographKind::Panoramic}},
        {u"Digora OPTIME",
         {QStringLiteral("INTRAORAL"), 0.064, 1.0, 480, 640, 410, RadiographKind::Intraoral}},
        {u"Cranex D", {QStringLiteral("PANORAMIC"), 0.096, 1.28, 1250, 620, 520, RadiographKind::Panoramic}},
        {u"Sopix", {QStringLiteral("INTRAORAL"), 0.039, 1.0, 600, 800, 610, RadiographKind::Intraoral}},
        {u"Cranex TT", {QStringLiteral("PANORAMIC"), 0.1, 1.3, 1200, 600, 720, RadiographKind::Panoramic}},
        {u"Digora Toto",
         {QStringLiteral("PANORAMIC"), 0.087, 1.27, 1200, 600, 810, RadiographKind::Panoramic}},
    }};
    return table;
}

const QString kDevicesKey = QStringLiteral("devices");

QJsonObject toJson(const SimDevice& device) {
    return QJsonObject{{QStringLiteral("type"), device.type},
                       {QStringLiteral("address"), device.address},
                       {QStringLiteral("model"), device.model}};
}

SimDevice fromJson(const QJsonObject& object) {
    return SimDevice{object.value(QStringLiteral("type")).toInt(),
                     object.value(QStringLiteral("address")).toString(),
                     object.value(QStringLiteral("model")).toString()};
}

} // namespace

SimModelTraits SimTraitsOfType(int type) {
    if (type >= 1 && type <= static_cast<int>(typeTable().size()))
        return typeTable()[static_cast<std::size_t>(type - 1)].traits;
    return SimModelTraits{QStringLiteral("INTRAORAL"), 0.085, 1.0, 380, 500, 100, RadiographKind::Intraoral};
}

QString SimDefaultModelName(int type) {
    if (type >= 1 && type <= static_cast<int>(typeTable().size()))
        return QString::fromUtf16(typeTable()[static_cast<std::size_t>(type - 1)].model);
    return {};
}

QString SimulatorDirectory() {
    const QString folder = platform::paths().simulatorDirectory();
    if (!folder.isEmpty())
        return QDir::cleanPath(folder);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kelvo/sim");
}

SimCatalogue::SimCatalogue(QString folder)
    : m_folder(std::move(folder)) {}

QList<SimDevice> SimCatalogue::defaultDevices() {
    // Addresses from the range set aside for documentation, so they never name a real host.
    QList<SimDevice> devices;
    for (int type = 1; type <= 8; ++type)
        devices.append(SimDevice{type, QStringLiteral("192.0.2.%1").arg(type), SimDefaultModelName(type)});
    return devices;
}

bool SimCatalogue::isValidAddress(const QString& address) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._:-]*$"));
    static const QRegularExpression number(QStringLiteral("^[0-9]+$"));
    return address.size() <= 100 && allowed.match(address).hasMatch() && !number.match(address).hasMatch();
}

QString SimCatalogue::catalogueFile() const {
    return m_folder + QStringLiteral("/devices.json");
}

QString SimCatalogue::lockFile() const {
    return m_folder + QStringLiteral("/devices.lock");
}

QString SimCatalogue::deviceFolder(const SimDevice& device) const {
    return m_folder + QStringLiteral("/devices/") + device.address;
}

std::optional<QList<SimDevice>> SimCatalogue::read(QString* error) const {
    QFile file(catalogueFile());
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return QList<SimDevice>{};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject() || !document.object().value(kDevicesKey).isArray()) {
        if (error)
            *error = QStringLiteral("%1 is not a device catalogue: %2")
                         .arg(file.fileName(), parseError.error == QJsonParseError::NoError
                                                   ? QStringLiteral("no \"devices\" list")
                                                   : parseError.errorString());
        return QList<SimDevice>{};
    }
    QList<SimDevice> devices;
    for (const QJsonValue& entry : document.object().value(kDevicesKey).toArray())
        devices.append(fromJson(entry.toObject()));
    return devices;
}

bool SimCatalogue::write(const QList<SimDevice>& devices, QString* error) const {
    QJsonArray list;
    for (const SimDevice& device : devices)
        list.append(toJson(device));
    QSaveFile file(catalogueFile());
    if (!QDir().mkpath(m_folder) || !file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(QJsonObject{{kDevicesKey, list}}).toJson()) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(catalogueFile(), file.errorString());
        return false;
    }
    return true;
}

QList<SimDevice> SimCatalogue::devices(QString* error) const {
    QString readError;
    if (std::optional<QList<SimDevice>> existing = read(&readError)) {
        if (error)
            *error = readError;
        return *existing;
    }
    // First use: create the default catalogue, once, even when several processes start together.
    QDir().mkpath(m_folder);
    std::optional<SimFileLock> lock = SimFileLock::acquire(lockFile());
    if (std::optional<QList<SimDevice>> existing = read(&readError)) {
        if (error)
            *error = readError;
        return *existing;
    }
    const QList<SimDevice> defaults = defaultDevices();
    if (lock)
        write(defaults, error);
    return defaults;
}

std::optional<SimDevice> SimCatalogue::find(const QString& typeOrAddress, QString* error) const {
    bool isNumber = false;
    const int type = typeOrAddress.toInt(&isNumber);
    for (const SimDevice& device : devices(error)) {
        if (isNumber ? device.type == type : device.address.compare(typeOrAddress, Qt::CaseInsensitive) == 0)
            return device;
    }
    return std::nullopt;
}

QString SimCatalogue::add(const SimDevice& device) {
    if (!isValidAddress(device.address))
        return QStringLiteral("invalid network address \"%1\"").arg(device.address);
    if (device.type < 1 || device.type > 12)
        return QStringLiteral("invalid device type %1 (1 to 12)").arg(device.type);
    QString error;
    QList<SimDevice> current = devices(&error);
    if (!error.isEmpty())
        return error;
    QDir().mkpath(m_folder);
    std::optional<SimFileLock> lock = SimFileLock::acquire(lockFile());
    if (!lock)
        return QStringLiteral("cannot lock %1").arg(lockFile());
    current = read(&error).value_or(current);
    if (!error.isEmpty())
        return error;
    for (const SimDevice& existing : current) {
        if (existing.address.compare(device.address, Qt::CaseInsensitive) == 0)
            return QStringLiteral("a device with address %1 exists already").arg(device.address);
    }
    SimDevice added = device;
    if (added.model.isEmpty())
        added.model = SimDefaultModelName(device.type);
    if (added.model.isEmpty())
        added.model = QStringLiteral("Type %1").arg(device.type);
    current.append(added);
    return write(current, &error) ? QString() : error;
}

QString SimCatalogue::remove(const QString& address) {
    QString error;
    devices(&error);
    if (!error.isEmpty())
        return error;
    std::optional<SimFileLock> lock = SimFileLock::acquire(lockFile());
    if (!lock)
        return QStringLiteral("cannot lock %1").arg(lockFile());
    QList<SimDevice> current = read(&error).value_or(QList<SimDevice>{});
    if (!error.isEmpty())
        return error;
    const auto removed = std::remove_if(current.begin(), current.end(), [&](const SimDevice& device) {
        return device.address.compare(address, Qt::CaseInsensitive) == 0;
    });
    if (removed == current.end())
        return QStringLiteral("no device with address %1").arg(address);
    current.erase(removed, current.end());
    return write(current, &error) ? QString() : error;
}
