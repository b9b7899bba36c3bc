#include "app/PacsLink.h"

#include "devices/DeviceList.h"
#include "devices/TRadioGroup.h"
#include "pacs/PacsOutbox.h"
#include "pacs/PacsService.h"
#include "pacs/PacsSettings.h"
#include "tools/KelvoSettings.h"

#include <QLabel>

TPacsLink::TPacsLink(qint32 patientNr, QLabel* label, QObject* parent)
    : QObject(parent)
    , m_patientNr(patientNr)
    , m_label(label)
    , m_service(
          std::make_unique<pacs::PacsService>(pacs::ReadPacsSettings(), pacs::PacsOutbox::DefaultFolder())) {
    connect(m_service.get(), &pacs::PacsService::WaitingChanged, this, &TPacsLink::showWaiting);
    connect(m_service.get(), &pacs::PacsService::SendFailed, this, &TPacsLink::showWaiting);
    showWaiting();
}

// The service finishes its work (and ends its threads) before the label goes with the window.
TPacsLink::~TPacsLink() = default;

void TPacsLink::ImageStored(const QString& imageName, const QString& parameterText,
                            const ImageParameters& parameters, const ImageContext& context,
                            const ImageInformation& information, const TRadioGroup& devices,
                            const TDeviceListController& deviceList) {
    if (!m_service->Settings().enabled())
        return;
    const int item = devices.ItemIndex();
    pacs::StoredImage image;
    image.fileName = imageName;
    image.patientId = QString::number(m_patientNr);
    image.deviceType = devices.ItemObject(item);
    if (image.deviceType != kSingleDeviceType)
        image.deviceLabel = deviceList.ScannerLabels().value(item - 1);
    const QString model = ReadSetting(QStringLiteral("DigoraDevices"), QString::number(image.deviceType));
    image.modelName = model == kMissingSetting ? QString() : model;
    image.manufacturer = parameters.manufacturer;
    image.imageType = parameters.imageType;
    image.parameters = parameterText;
    image.resolutionDpi = information.Resolution.trimmed().toDouble();
    image.magnification = double(parameters.magnification);
    image.scannerVersion = information.VersionHardware;
    image.workstationName = context.workstationName;
    image.acquired = QDateTime::currentDateTime();
    m_service->ImageStored(image);
}

void TPacsLink::ReloadSettings() {
    const pacs::PacsSettings settings = pacs::ReadPacsSettings();
    if (!(settings == m_service->Settings()))
        m_service->SetSettings(settings);
    showWaiting();
}

void TPacsLink::showWaiting() {
    const int waiting = m_service->WaitingCount();
    const bool enabled = m_service->Settings().enabled();
    m_label->setVisible(enabled || waiting > 0);
    QString text;
    if (waiting == 0)
        text = QStringLiteral("PACS: all images sent");
    else if (waiting == 1)
        text = QStringLiteral("PACS: 1 image waiting");
    else
        text = QStringLiteral("PACS: %1 images waiting").arg(waiting);
    if (!enabled && waiting > 0)
        text += QStringLiteral(" (no PACS set)");
    m_label->setText(text);
    m_label->setToolTip(m_service->LastFailure());
}
