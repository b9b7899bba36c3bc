#pragma once

// The program's road to the PACS. The hand-off gives each stored image to the service, which
// only opens the file and hands it on: one thread makes the DICOM object and writes it into the
// outbox, another sends the outbox, retrying with growing pauses while the PACS cannot be
// reached. The window's thread never waits for either. The service also keeps the session's
// identifiers: one study for this run (one patient), one series per device.

#include "pacs/PacsSettings.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

namespace pacs {

// What the hand-off knows of one stored image.
struct StoredImage {
    QString fileName; // the numbered image in the patient's folder: ".bmp", ".raw" or ".dcm"
    QString patientId;
    int deviceType = 0;
    QString deviceLabel;      // the device's own name in the station register; empty when it has none
    QString modelName;        // the model name stored for the device type
    QString manufacturer;     // "DEVICE " of the parameter text
    QString imageType;        // "IMAGETYPE " of the parameter text
    QString parameters;       // the whole parameter text (a RAW image's size is there)
    double resolutionDpi = 0; // the resolution the information file gives; 0 when unknown
    double magnification = 0; // 0 when unknown
    QString scannerVersion;
    QString workstationName;
    QDateTime acquired;
};

class PacsService : public QObject {
    Q_OBJECT
public:
    // Nothing runs until a PACS is configured; entries left in `outboxFolder` by an earlier run
    // are sent as soon as one is.
    explicit PacsService(const PacsSettings& settings, const QString& outboxFolder,
                         QObject* parent = nullptr);
    // Writes every image handed over so far into the outbox, gives the sender a short while to
    // send what is queued (unless the PACS is failing), and stops both threads.
    ~PacsService() override;

    void SetSettings(const PacsSettings& settings);
    PacsSettings Settings() const;

    // Queues a stored image when a PACS is configured; false when none is or the file cannot be
    // opened (then nothing is queued, and the log says why). The file is opened at once, so that
    // the host may move it as soon as it is told; the object is made once the calling thread is
    // back in its event loop.
    bool ImageStored(const StoredImage& image);

    // The entries in the outbox as last counted, and the last failure of sending (empty after a success).
    int WaitingCount() const;
    QString LastFailure() const;

Q_SIGNALS:
    // Emitted on the thread the service lives in.
    void WaitingChanged(int count);
    void Sent(const QString& sopInstanceUid, const QString& sourceFile);
    void SendFailed(const QString& failure);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pacs
