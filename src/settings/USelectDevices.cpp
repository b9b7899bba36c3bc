#include "settings/USelectDevices.h"

#include "tools/DesignerNames.h"
#include "tools/KelvoSettings.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>

#include <array>

namespace {

const QString kSection = QStringLiteral("DigoraDevices");
const QString kConnectTo = QStringLiteral("ConnectTo");
// "¤" separates the ticked type numbers.
const QString kSeparator = QStringLiteral("\u00A4");

const std::array<QString, 8> kDeviceNames{QStringLiteral("Digora"),     QStringLiteral("Digora PCT"),
                                          QStringLiteral("Cranex PDC"), QStringLiteral("Digora OPTIME"),
                                          QStringLiteral("Cranex D"),   QStringLiteral("Sopix"),
                                          QStringLiteral("Cranex TT"),  QStringLiteral("Digora Toto")};

QString readDevices(const QString& key) {
    return ReadSettingDef(kSection, key, kMissingSetting);
}

} // namespace

QString DefaultDeviceName(int typeNumber) {
    return typeNumber >= 1 && typeNumber <= int(kDeviceNames.size()) ? kDeviceNames.at(size_t(typeNumber - 1))
                                                                     : QString();
}

TfrmSelectDevices::TfrmSelectDevices(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select devices to connect to"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(230, 278);

    DevicesGroup = new QGroupBox(QStringLiteral("Xray Devices"), this);
    DevicesGroup->setGeometry(8, 4, 214, 226);
    DeviceTypeList = new QListWidget(DevicesGroup);
    DeviceTypeList->setGeometry(8, 20, 198, 198);

    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setGeometry(60, 240, 77, 30);
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Avbryt"), this);
    CancelButton->setGeometry(145, 240, 77, 30);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        BitBtn1Click();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    KeepDesignerNames({{DevicesGroup, "GroupBox1"},
                       {DeviceTypeList, "CheckListBox1"},
                       {OkButton, "BitBtn1"},
                       {CancelButton, "BitBtn2"}});

    FormCreate();
}

void TfrmSelectDevices::FormCreate() {
    // An installation that stored types 1 to 7 only gains type 8 here.
    if (readDevices(QStringLiteral("8")) == kMissingSetting)
        WriteSetting(kSection, QStringLiteral("8"), DefaultDeviceName(8));

    QString connectTo = readDevices(kConnectTo);
    if (connectTo == kMissingSetting) {
        // First run: show a default without storing it, and store the type names.
        connectTo = kSeparator + QStringLiteral("1") + kSeparator + QStringLiteral("2") + kSeparator +
                    QStringLiteral("4") + kSeparator;
        for (int n = 1; n <= int(kDeviceNames.size()); ++n)
            WriteSetting(kSection, QString::number(n), DefaultDeviceName(n));
    }

    // The list ends at the first type number without a name.
    for (int n = 1;; ++n) {
        const QString name = readDevices(QString::number(n));
        if (name == kMissingSetting)
            break;
        auto* item = new QListWidgetItem(name, DeviceTypeList);
        item->setData(Qt::UserRole, n);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        const bool ticked = connectTo.contains(kSeparator + QString::number(n) + kSeparator);
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void TfrmSelectDevices::BitBtn1Click() {
    QString connectTo;
    for (int i = 0; i < DeviceTypeList->count(); ++i) {
        const QListWidgetItem* item = DeviceTypeList->item(i);
        if (item->checkState() == Qt::Checked)
            connectTo += kSeparator + QString::number(item->data(Qt::UserRole).toInt());
    }
    WriteSetting(kSection, kConnectTo, connectTo + kSeparator);
}
