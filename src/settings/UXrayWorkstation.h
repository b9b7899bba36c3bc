#pragma once

// The dialog in which one row of the station register is entered or changed: which
// computer may use which device, under which workstation name and at which address.

#include <QDialog>
#include <QList>

class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class TXrayDatabase;

class TfrmEditXrayWorkstation : public QDialog {
    Q_OBJECT
public:
    // Works on the current row of the database's register (QXRAYWORKSTATIONS), which the
    // caller puts into the edit or insert state before showing the dialog.
    explicit TfrmEditXrayWorkstation(TXrayDatabase& database, QWidget* parent = nullptr);

    // Handlers, named after their controls; the controls call them, and so may tests.
    void BitBtn1Click(); // "OK"
    void BitBtn2Click(); // "Avbryt"
    void BitBtn3Click(); // "Remove all locks on this device"
    void BitBtn4Click(); // "Get computername"

    // The controls; the designer's names are their object names.
    QGroupBox* PropertiesGroup = nullptr;         // GroupBox1: "Properties"
    QLineEdit* StationNameEdit = nullptr;         // wwDBEdit2: XRAYSTATION
    QLineEdit* UniqueNameEdit = nullptr;          // wwDBEdit4: XRAYSTATIONID
    QLineEdit* ComputerNameEdit = nullptr;        // wwDBEdit1: COMPUTERNAME
    QLineEdit* WorkstationNameEdit = nullptr;     // wwDBEdit3: STATIONID
    QLineEdit* IpAddressEdit = nullptr;           // wwDBEdit5: IPADRESS
    QPushButton* OkButton = nullptr;              // BitBtn1: "OK"
    QPushButton* CancelButton = nullptr;          // BitBtn2: "Avbryt"
    QPushButton* RemoveLocksButton = nullptr;     // BitBtn3: "Remove all locks on this device"
    QPushButton* GetComputerNameButton = nullptr; // BitBtn4: "Get computername"

    // A column of the "Properties" group: its left edge and width.
    struct TColumn {
        int left;
        int width;
    };

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // An edit box and the register column it stands for.
    struct TBoundEdit {
        QLineEdit* edit;
        QString fieldName;
    };

    void createControls();
    // A caption above an edit box bound to `fieldName`, in the given column and row;
    // `captionLabel` receives the caption.
    QLineEdit* addField(const QString& caption, const QString& fieldName, int maxLength,
                        const TColumn& column, int row, QLabel** captionLabel = nullptr);
    void bind(QLineEdit* edit, const QString& fieldName);
    bool rowIsBeingChanged() const;
    void loadFields();
    void storeField(const QString& fieldName, const QString& text);

    TXrayDatabase& m_database;
    QList<TBoundEdit> m_bound;
};

// Removes every lock of a device (the settings window's and the editor's "Remove all locks")
// and tells the user that the device is unlocked, or what went wrong.
void RemoveDeviceLocksAndTell(TXrayDatabase& database, const QString& stationName,
                              const QString& deviceLabel);
