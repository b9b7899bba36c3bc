#pragma once

// The state folder of one simulated device, shared by every process: who holds the device
// open, what ravlek-sim has configured (faults, parameter text, delays) and what the holder
// reports back (status, arming, exposures).

#include "sim/SimFileLock.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A scanner code that an operation returns instead of doing its work.
struct SimFault {
    int code = 0;
    int remaining = -1; // uses left; -1 for every call until cleared
};

struct SimDeviceConfig {
    QMap<QString, SimFault> faults;     // by operation name, see SimOperationNames
    std::optional<QString> params;      // replaces the parameter text when set
    std::optional<int> exposureDelayMs; // an armed device exposes by itself after this
    int stageMs = 1000;                 // how long PLATEINSERTED and IMAGEREADOUT each last
    quint32 seed = 1;                   // the synthetic picture is a function of this
};

// What the holding process reports about the device, for ravlek-sim.
struct SimDeviceReport {
    qint64 pid = 0;
    int status = 0;
    bool armed = false;
    qint32 imageFormat = 0;
    QString imageStore;
    QString exposureId;     // the last exposure request seen
    QString exposureResult; // "running", "done" or "ignored"
    int exposureCode = 0;   // OnEndOfImage's code when done
};

// Operations that a fault can be set for; "EndOfImage" makes a scan end with the code.
const QStringList& SimOperationNames();
// The canonical name of an operation, matched without regard to letter case; empty if unknown.
QString SimOperationName(const QString& name);

class SimDeviceFolder {
public:
    explicit SimDeviceFolder(QString path);

    QString path() const { return m_path; }

    // Holding the device open.
    std::optional<SimFileLock> tryOpen() const;
    bool isOpen() const;
    qint64 openedBy() const;

    SimDeviceConfig config() const;
    // Read-modify-write of the configuration under its lock; false when it cannot be stored.
    bool updateConfig(const std::function<void(SimDeviceConfig&)>& change) const;
    // The fault set for an operation, using it up when it has a count.
    std::optional<int> takeFault(const QString& operation) const;

    void writeReport(const SimDeviceReport& report) const;
    std::optional<SimDeviceReport> report() const;

    // An exposure request, written by ravlek-sim and taken by the holder; returns its id.
    std::optional<QString> requestExposure() const;
    std::optional<QString> takeExposureRequest() const;
    void dropExposureRequest() const;

private:
    QString file(const QString& name) const { return m_path + QLatin1Char('/') + name; }
    bool writeAtomically(const QString& name, const QByteArray& content) const;

    QString m_path;
};
