#pragma once

// The main window's road to the PACS: the outbox service of this session, fed by the hand-off,
// and the line that tells the user how many images are waiting for the PACS.

#include "app/ImageHandOff.h"

#include <QObject>

class QLabel;
class TDeviceListController;
class TRadioGroup;

namespace pacs {
class PacsService;
}

class TPacsLink : public QObject {
    Q_OBJECT
public:
    // Reads the PACS settings; with none configured nothing runs and the label stays hidden
    // (unless images from an earlier run still wait).
    TPacsLink(qint32 patientNr, QLabel* label, QObject* parent);
    ~TPacsLink() override;

    // Hands a stored image to the outbox; costs the window's thread no more than opening the file.
    void ImageStored(const QString& imageName, const QString& parameterText,
                     const ImageParameters& parameters, const ImageContext& context,
                     const ImageInformation& information, const TRadioGroup& devices,
                     const TDeviceListController& deviceList);
    // Takes up changed settings (after the settings window).
    void ReloadSettings();

    pacs::PacsService& Service() const { return *m_service; }

private:
    void showWaiting();

    qint32 m_patientNr;
    QLabel* m_label;
    std::unique_ptr<pacs::PacsService> m_service;
};
