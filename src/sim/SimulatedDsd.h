#pragma once

// The simulated scanner driver: a TDsd whose devices are the simulator's catalogue, shared with
// every other process on the computer through the simulator's folder.

#include "scanner/DSDLib_TLB.h"
#include "sim/SimCatalogue.h"
#include "sim/SimDeviceFolder.h"

#include <QTimer>
#include <optional>

class QFileSystemWatcher;

class TSimulatedDsd : public TDsd {
    Q_OBJECT
public:
    explicit TSimulatedDsd(QObject* parent = nullptr, QString simulatorFolder = SimulatorDirectory());
    ~TSimulatedDsd() override;

    qint32 OpenScanner(qint32 scannertype, qint32 options, const QString& workDir) override;
    qint32 CloseScanner() override;
    qint32 GetScannerStatus() override;
    qint32 SetImageFormat(qint32 imageFormat) override;
    qint32 SetImageStore(const QString& imageStore) override;
    qint32 ActivateScan(qint32 options) override;
    QString GetImageParms() override;
    qint32 GetScannerVersion() override;
    qint32 DiscardImage() override;
    qint32 ActivateSetup(qint32 options) override;

    // Opens one catalogue device directly, whatever its type (ravlek-sim hold).
    qint32 OpenDevice(const SimDevice& device, const QString& workDir);
    std::optional<SimDevice> openDevice() const { return m_device; }

Q_SIGNALS:
    // Every change of the status that GetScannerStatus reports.
    void statusChanged(int status);

private:
    enum class Stage { Idle, PlateInserted, ImageReadout };

    std::optional<SimDevice> deviceForType(qint32 scannertype, qint32* failure) const;
    std::optional<int> fault(const QString& operation) const;
    // Gives the device up without asking for faults (before another opening, at destruction).
    void closeDevice();
    void setStatus(int status);
    void report();
    void onFolderChanged();
    void syncAutoExposure();
    void startExposure();
    void advanceExposure();
    void finishExposure();
    void stopExposure();

    SimCatalogue m_catalogue;
    std::optional<SimDevice> m_device;
    std::optional<SimDeviceFolder> m_folder;
    std::optional<SimFileLock> m_lock;
    QString m_workDir;
    int m_status = 0;
    qint32 m_imageFormat = 8 * 65536 + 2;
    QString m_imageStore;
    bool m_armed = false;
    bool m_autoExposed = false; // the automatic exposure fires once per arming
    Stage m_stage = Stage::Idle;
    QString m_exposureId;
    QString m_exposureResult;
    int m_exposureCode = 0;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    int m_lastDepth = 0;
    QTimer m_autoExposure;
    QTimer m_stageTimer;
    QFileSystemWatcher* m_watcher = nullptr;
};

// Registers the simulated driver as the scanner control's class id. Set KELVO_SIM_FAIL_CREATE
// to make creating it fail, with the variable's text as the reason ("1": a standard text).
void RegisterSimulatedDriver();
