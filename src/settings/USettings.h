#pragma once

// The settings window, which doubles as the program's data module: it owns the only
// database connection and every query on the station register and the lock list.

#include "tools/KelvoDatabase.h"

#include <QDialog>
#include <QStringList>
#include <exception>
#include <functional>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

// Raised while the device list is being changed and while this window loads its choices;
// the image-type list and the format buttons ignore their events meanwhile.
extern bool gUpdating;

// What the settings window needs of the main window.
struct TSettingsLinks {
    std::function<void()> ScanImage;             // re-arm the open device
    std::function<void(bool)> SetGrabEnabled;    // the main window's grab button
    std::function<void(bool)> SetPreviewEnabled; // the main window's "Preview image"
    QString ProgramDir;                          // folder of the executable, with a trailing "/"
    // The command line, the program itself first; empty: the process's own.
    QStringList Arguments;
};

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSettings(TSettingsLinks links, QWidget* parent = nullptr);
    ~TfrmSettings() override;

    // Connects to the practice database, creates missing tables and opens the register.
    bool ConnectToDatabase();
    bool TableExists(const QString& tableName);

    // Handlers, named after their controls; the controls call them, and so may tests.
    void BitBtn1Click();  // "Connect"
    void BitBtn2Click();  // "Return"
    void BitBtn3Click();  // "Select..."
    void BitBtn42Click(); // "Add..."
    void BitBtn44Click(); // "Edit..."
    void BitBtn89Click(); // "Delete..."
    void Edit1Change();
    void DataSource1StateChange();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton5Click();
    void CheckBox1Click();
    void CheckBox2Click();
    void Removealllocksonselecteddevice1Click();
    void wwDBGrid1DblClick();
    void btnPacsClick(); // "PACS..."

    // The data module. Owned by this window.
    TADOConnection* Database1 = nullptr;
    TADOQuery* QXRAYWORKSTATIONS = nullptr;
    TADOQuery* QCREATEXRAYWORKSTATIONS = nullptr;
    TADOQuery* QOVRIGT = nullptr;
    TADOQuery* QXRAYDEV = nullptr;
    TADOQuery* QCONNECTEDDEV = nullptr;
    TADOQuery* QCREATEXRAYDEVICELOCKLIST = nullptr;
    TADOQuery* QXRAYDEVICES = nullptr;
    // Links QXRAYWORKSTATIONS to the register grid.
    TDataSetModel* DataSource1 = nullptr;

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

    QGroupBox* GroupBox1 = nullptr;  // "Xraystations and workstations"
    QGroupBox* GroupBox2 = nullptr;  // "Current DataProvider"
    QGroupBox* GroupBox3 = nullptr;  // "Filetype"
    QGroupBox* GroupBox4 = nullptr;  // "Sound"
    QPushButton* BitBtn2 = nullptr;  // "Return"
    QPushButton* btnPacs = nullptr;  // "PACS...": where the images go besides the patient's folder
    QPushButton* BitBtn3 = nullptr;  // "Select..."
    QPushButton* BitBtn42 = nullptr; // "Add..."
    QPushButton* BitBtn44 = nullptr; // "Edit..."
    QPushButton* BitBtn89 = nullptr; // "Delete..."
    QLineEdit* Edit1 = nullptr;      // search
    QTableView* wwDBGrid1 = nullptr; // the register
    QMenu* PopupMenu1 = nullptr;
    QAction* Removealllocksonselecteddevice1 = nullptr;

protected:
    // Double clicks anywhere on the grid, rows or empty space.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createDataModule();
    void createControls();
    void createRegisterGroup();
    void createFormatGroups();
    void connectHandlers();
    void FormCreate();
    void findDataLinkFile();
    void restoreFormatChoices();
    void formatDependentStates();
    void scanImage();
    // Keeps the grid's current row and the register query's current record together.
    void showCurrentRecord();
    void selectRecord(int row);
    void showGridMenu(const QPoint& position);
    // Shows the workstation editor on the row `startRow` has put into the edit or insert state.
    void editWorkstation(const std::function<void()>& startRow);

    TSettingsLinks m_links;
};
