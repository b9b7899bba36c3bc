#pragma once

// The settings window: the output format, the sound and one-shot choices, the database
// connection and the station register. The database itself is the program's one
// TXrayDatabase, which the window is given and calls.

#include "database/XrayDatabase.h"
#include "scanner/ImageFormat.h"

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

// What the settings window needs of the main window.
struct TSettingsLinks {
    std::function<void()> ScanImage;             // re-arm the open device
    std::function<void(bool)> SetGrabEnabled;    // the main window's grab button
    std::function<void(bool)> SetPreviewEnabled; // the main window's "Preview image"
    // Whether the device list is being changed: the format buttons ignore their events
    // meanwhile, as they do while this window loads its choices.
    std::function<bool()> DeviceListUpdating;
};

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // Works on `database`, which must outlive the window.
    explicit TfrmSettings(TXrayDatabase& database, TSettingsLinks links = {}, QWidget* parent = nullptr);
    ~TfrmSettings() override;

    TXrayDatabase& Database() const { return m_database; }

    // Connects to the practice database, creates missing tables and opens the register.
    bool ConnectToDatabase();
    bool TableExists(const QString& tableName);

    // The output format chosen here, which the main window arms every scan with.
    TImageFormat ImageFormat() const;

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

    // Links the database's register query (QXRAYWORKSTATIONS) to the grid (DataSource1).
    TDataSetModel* RegisterModel = nullptr;

    // The controls; the designer's names are their object names.
    QRadioButton* Bits8Button = nullptr;      // RadioButton1: "8 bits"
    QRadioButton* Bits16Button = nullptr;     // RadioButton2: "16 bits"
    QRadioButton* DibButton = nullptr;        // RadioButton3: "DIB"
    QRadioButton* DcmButton = nullptr;        // RadioButton4: "DCM"
    QRadioButton* RawButton = nullptr;        // RadioButton5: "RAW"
    QCheckBox* PlaySoundCheckBox = nullptr;   // CheckBox1: "Play sound when scanner is ready"
    QCheckBox* TotoOneShotCheckBox = nullptr; // CheckBox2: "Toto - Oneshot"
    QLabel* lblDataProvider = nullptr;        // the data-link file's name
    QPushButton* ConnectButton = nullptr;     // BitBtn1: "Connect"
    QWidget* ConnectCover = nullptr;          // Panel3: "Connect to database", covers the register
    QGroupBox* RegisterGroup = nullptr;       // GroupBox1: "Xraystations and workstations"
    QGroupBox* DataProviderGroup = nullptr;   // GroupBox2: "Current DataProvider"
    QGroupBox* FileTypeGroup = nullptr;       // GroupBox3: "Filetype"
    QGroupBox* SoundGroup = nullptr;          // GroupBox4: "Sound"
    QPushButton* ReturnButton = nullptr;      // BitBtn2: "Return"
    QPushButton* btnPacs = nullptr;           // "PACS...": where the images go besides the patient's folder
    QPushButton* SelectButton = nullptr;      // BitBtn3: "Select..."
    QPushButton* AddButton = nullptr;         // BitBtn42: "Add..."
    QPushButton* EditButton = nullptr;        // BitBtn44: "Edit..."
    QPushButton* DeleteButton = nullptr;      // BitBtn89: "Delete..."
    QLineEdit* SearchEdit = nullptr;          // Edit1: the search
    QTableView* RegisterGrid = nullptr;       // wwDBGrid1: the register
    QMenu* RegisterMenu = nullptr;            // PopupMenu1: the grid's menu
    QAction* RemoveAllLocksAction = nullptr;  // Removealllocksonselecteddevice1

protected:
    // Double clicks anywhere on the grid, rows or empty space.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createRegisterGroup();
    void createFormatGroups();
    void connectHandlers();
    void FormCreate();
    void restoreFormatChoices();
    // The format buttons ignore their events while this window loads its choices and while
    // the device list is being changed.
    bool updating() const;
    void formatDependentStates();
    void scanImage();
    // Keeps the grid's current row and the register query's current record together.
    void showCurrentRecord();
    void selectRecord(int row);
    void showGridMenu(const QPoint& position);
    // Shows the workstation editor on the row `startRow` has put into the edit or insert state.
    void editWorkstation(const std::function<void()>& startRow);

    TXrayDatabase& m_database;
    TSettingsLinks m_links;
    bool m_loadingChoices = false;
};
