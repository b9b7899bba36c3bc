#pragma once

// The settings window, which doubles as the program's data module: it owns the only
// database connection and every query on the station register and the lock list.

#include "tools/KelvoDatabase.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

// Raised while the device list is being changed and while this window loads its choices;
// the image-type list and the format buttons ignore their events meanwhile.
extern bool gUpdating;

// What the settings window needs of the main window.
struct TSettingsLinks {
    std::function<void()> ScanImage;               // re-arm the open device
    std::function<void(bool)> SetGrabEnabled;      // the main window's grab button
    std::function<void(bool)> SetPreviewEnabled;   // the main window's "Preview image"
    QString ProgramDir;                            // folder of the executable, with a trailing "/"
};

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSettings(TSettingsLinks links, QWidget* parent = nullptr);
    ~TfrmSettings() override;

    // Connects to the practice database, creates missing tables and opens the register.
    bool ConnectToDatabase();
    bool TableExists(const QString& tableName);

    // The data module. Owned by this window.
    TADOConnection* Database1 = nullptr;
    TADOQuery* QXRAYWORKSTATIONS = nullptr;
    TADOQuery* QCREATEXRAYWORKSTATIONS = nullptr;
    TADOQuery* QOVRIGT = nullptr;
    TADOQuery* QXRAYDEV = nullptr;
    TADOQuery* QCONNECTEDDEV = nullptr;
    TADOQuery* QCREATEXRAYDEVICELOCKLIST = nullptr;
    TADOQuery* QXRAYDEVICES = nullptr;

    // The format, sound and one-shot choices, read by the main window at every arming.
    QRadioButton* RadioButton1 = nullptr; // "8 bits"
    QRadioButton* RadioButton2 = nullptr; // "16 bits"
    QRadioButton* RadioButton3 = nullptr; // "DIB"
    QRadioButton* RadioButton4 = nullptr; // "DCM"
    QRadioButton* RadioButton5 = nullptr; // "RAW"
    QCheckBox* CheckBox1 = nullptr;       // "Play sound when scanner is ready"
    QCheckBox* CheckBox2 = nullptr;       // "Toto - Oneshot"

    QLabel* lblDataProvider = nullptr;
    QPushButton* BitBtn1 = nullptr; // "Connect"
    QWidget* Panel3 = nullptr;      // "Connect to database", covers the register

private:
    TSettingsLinks m_links;
};
