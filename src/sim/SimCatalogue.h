#pragma once

// The simulated devices known on this computer: a catalogue shared by every process, kept in
// the simulator's folder, plus the fixed traits of each device type.

#include <QList>
#include <QString>
#include <optional>

enum class RadiographKind { Intraoral, Panoramic };

// What a device type produces; the model name in the catalogue only names it.
struct SimModelTraits {
    QString imageType;    // "IMAGETYPE " of the parameter text
    double pixelSizeMm;   // "PIXELSIZEH "
    double magnification; // "MAGFACTOR "
    int width;
    int height;
    int version; // GetScannerVersion
    RadiographKind kind;
};

// Traits of a device type; types without a model of their own get those of a plain intraoral plate.
SimModelTraits SimTraitsOfType(int type);
// The model name a type gets in the default catalogue ("Digora", ... "Digora Toto"); empty above 8.
QString SimDefaultModelName(int type);

struct SimDevice {
    int type = 0;
    QString address; // unique in the catalogue; also names the device's state folder
    QString model;
};

// The simulator's folder: KELVO_SIM_DIR, else "kelvo-sim" in the user's runtime folder.
QString SimulatorDirectory();

class SimCatalogue {
public:
    explicit SimCatalogue(QString folder = SimulatorDirectory());

    QString folder() const { return m_folder; }

    // The devices in catalogue order; a missing catalogue is created with one device of each
    // type 1 to 8. Empty with `error` set when the catalogue cannot be read; it is then left
    // as it is, never replaced.
    QList<SimDevice> devices(QString* error = nullptr) const;

    // A device by its type number ("4": the first of that type) or its network address.
    std::optional<SimDevice> find(const QString& typeOrAddress, QString* error = nullptr) const;

    // Changes under the catalogue's lock; an empty result means done, otherwise the reason.
    QString add(const SimDevice& device);
    QString remove(const QString& address);

    // The device's own folder of state files.
    QString deviceFolder(const SimDevice& device) const;

    // Addresses are names of folders too: letters, digits, ".", "-", "_", ":" and not a bare number,
    // which would read as a type.
    static bool isValidAddress(const QString& address);
    static QList<SimDevice> defaultDevices();

private:
    QString catalogueFile() const;
    QString lockFile() const;
    std::optional<QList<SimDevice>> read(QString* error) const;
    bool write(const QList<SimDevice>& devices, QString* error) const;

    QString m_folder;
};
