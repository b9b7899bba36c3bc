#pragma once

// The dialog in which the user ticks the device types this workstation connects to. It
// also keeps the table of device types: their model names, stored in section
// "DigoraDevices" under the type number, are the station names used everywhere.

#include <QDialog>
#include <QString>

class QGroupBox;
class QListWidget;
class QPushButton;

// The model name of device types 1 to 8.
QString DefaultDeviceName(int typeNumber);

class TfrmSelectDevices : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSelectDevices(QWidget* parent = nullptr);

    // "OK": stores the ticked types as "ConnectTo".
    void BitBtn1Click();

    // The controls; the designer's names are their object names.
    QGroupBox* DevicesGroup = nullptr; // GroupBox1: "Xray Devices"
    QListWidget* DeviceTypeList =
        nullptr; // CheckListBox1: one checkable item per type; Qt::UserRole holds its number
    QPushButton* OkButton = nullptr;     // BitBtn1: "OK"
    QPushButton* CancelButton = nullptr; // BitBtn2: "Avbryt"

private:
    void FormCreate();
};
