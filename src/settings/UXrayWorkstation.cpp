#include "settings/UXrayWorkstation.h"

#include "database/XrayDatabase.h"
#include "tools/DesignerNames.h"
#include "tools/KelvoMessages.h"
#include "tools/MessageBoxes.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include <exception>

namespace {

const QString kXrayStation = QStringLiteral("XRAYSTATION");
const QString kXrayStationId = QStringLiteral("XRAYSTATIONID");
const QString kComputerName = QStringLiteral("COMPUTERNAME");
const QString kStationId = QStringLiteral("STATIONID");
const QString kIpAdress = QStringLiteral("IPADRESS");
const QString kLockResetFailure =
    QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r");

// Two columns of fields, each a caption above its edit box; the left one is wider, for
// "Get computername" beside its caption and for "Remove all locks on this device".
constexpr TfrmEditXrayWorkstation::TColumn kLeftColumn{12, 232};
constexpr TfrmEditXrayWorkstation::TColumn kRightColumn{256, 168};
constexpr int kCaptionHeight = 16;
constexpr int kEditHeight = 22;

int rowTop(int row) {
    return 20 + row * 52;
}

} // namespace

TfrmEditXrayWorkstation::TfrmEditXrayWorkstation(TXrayDatabase& database, QWidget* parent)
    : QDialog(parent)
    , m_database(database) {
    setObjectName(QStringLiteral("frmEditXrayWorkstation"));
    setWindowTitle(QStringLiteral("Add/edit Xraystation and workstation"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(452, 239);
    createControls();

    connect(OkButton, &QPushButton::clicked, this, &TfrmEditXrayWorkstation::BitBtn1Click);
    connect(CancelButton, &QPushButton::clicked, this, &TfrmEditXrayWorkstation::BitBtn2Click);
    connect(RemoveLocksButton, &QPushButton::clicked, this, &TfrmEditXrayWorkstation::BitBtn3Click);
    connect(GetComputerNameButton, &QPushButton::clicked, this, &TfrmEditXrayWorkstation::BitBtn4Click);
}

void TfrmEditXrayWorkstation::createControls() {
    PropertiesGroup = new QGroupBox(QStringLiteral("Properties"), this);
    PropertiesGroup->setGeometry(8, 6, 436, 186);

    // Column widths are those of the register's table.
    StationNameEdit = addField(QStringLiteral("Xraystation name:"), kXrayStation, 30, kLeftColumn, 0);
    UniqueNameEdit = addField(QStringLiteral("Unique name:"), kXrayStationId, 20, kRightColumn, 0);
    QLabel* computerCaption = nullptr;
    ComputerNameEdit =
        addField(QStringLiteral("Computername:"), kComputerName, 50, kLeftColumn, 1, &computerCaption);
    WorkstationNameEdit = addField(QStringLiteral("Workstation name:"), kStationId, 100, kRightColumn, 1);
    IpAddressEdit = addField(QStringLiteral("IP-adress:"), kIpAdress, 20, kRightColumn, 2);

    GetComputerNameButton = new QPushButton(QStringLiteral("Get computername"), PropertiesGroup);
    // Beside the computer name's caption, ending where the edit box ends.
    const int besideCaption = computerCaption->geometry().right() + 6;
    GetComputerNameButton->setGeometry(besideCaption, rowTop(1) - 6,
                                       kLeftColumn.left + kLeftColumn.width - besideCaption, kEditHeight);
    GetComputerNameButton->setFocusPolicy(Qt::ClickFocus);
    GetComputerNameButton->setAutoDefault(false);
    RemoveLocksButton = new QPushButton(QStringLiteral("Remove all locks on this device"), PropertiesGroup);
    RemoveLocksButton->setGeometry(kLeftColumn.left, rowTop(2) + kCaptionHeight - 1, kLeftColumn.width,
                                   kEditHeight + 2);

    OkButton = new QPushButton(QStringLiteral("OK"), this);
    OkButton->setGeometry(288, 204, 75, 27);
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Avbryt"), this);
    CancelButton->setGeometry(369, 204, 75, 27);

    setTabOrder(StationNameEdit, UniqueNameEdit);
    setTabOrder(UniqueNameEdit, ComputerNameEdit);
    setTabOrder(ComputerNameEdit, WorkstationNameEdit);
    setTabOrder(WorkstationNameEdit, RemoveLocksButton);
    setTabOrder(RemoveLocksButton, IpAddressEdit);
    setTabOrder(IpAddressEdit, OkButton);
    setTabOrder(OkButton, CancelButton);
    KeepDesignerNames({{PropertiesGroup, "GroupBox1"},
                       {StationNameEdit, "wwDBEdit2"},
                       {UniqueNameEdit, "wwDBEdit4"},
                       {ComputerNameEdit, "wwDBEdit1"},
                       {WorkstationNameEdit, "wwDBEdit3"},
                       {RemoveLocksButton, "BitBtn3"},
                       {IpAddressEdit, "wwDBEdit5"},
                       {GetComputerNameButton, "BitBtn4"},
                       {OkButton, "BitBtn1"},
                       {CancelButton, "BitBtn2"}});
}

QLineEdit* TfrmEditXrayWorkstation::addField(const QString& caption, const QString& fieldName, int maxLength,
                                             const TColumn& column, int row, QLabel** captionLabel) {
    auto* label = new QLabel(caption, PropertiesGroup);
    label->move(column.left, rowTop(row));
    label->adjustSize();
    auto* edit = new QLineEdit(PropertiesGroup);
    edit->setGeometry(column.left, rowTop(row) + kCaptionHeight, column.width, kEditHeight);
    edit->setMaxLength(maxLength);
    label->setBuddy(edit);
    bind(edit, fieldName);
    if (captionLabel)
        *captionLabel = label;
    return edit;
}

// Every change of the text, typed or set by a button, goes straight into the row's field,
// as a data-aware edit box does; an emptied box makes the field empty (NULL).
void TfrmEditXrayWorkstation::bind(QLineEdit* edit, const QString& fieldName) {
    m_bound.append({edit, fieldName});
    connect(edit, &QLineEdit::textChanged, this,
            [this, fieldName](const QString& text) { storeField(fieldName, text); });
}

bool TfrmEditXrayWorkstation::rowIsBeingChanged() const {
    const TDataSetState state = m_database.QXRAYWORKSTATIONS->State();
    return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}

void TfrmEditXrayWorkstation::storeField(const QString& fieldName, const QString& text) {
    if (!rowIsBeingChanged())
        return;
    if (TField* field = m_database.QXRAYWORKSTATIONS->FindField(fieldName))
        field->SetValue(text.isEmpty() ? QVariant() : QVariant(text));
}

// The row is started by the settings window between this dialog's creation and its showing.
void TfrmEditXrayWorkstation::loadFields() {
    const bool editable = rowIsBeingChanged();
    for (const TBoundEdit& bound : std::as_const(m_bound)) {
        const QSignalBlocker quiet(bound.edit);
        const TField* field = m_database.QXRAYWORKSTATIONS->FindField(bound.fieldName);
        bound.edit->setText(field ? field->AsString() : QString());
        bound.edit->setReadOnly(!editable);
    }
}

void TfrmEditXrayWorkstation::showEvent(QShowEvent* event) {
    loadFields();
    if (const QScreen* display = screen())
        move(display->availableGeometry().center() - rect().center());
    StationNameEdit->setFocus();
    QDialog::showEvent(event);
}

// Escape is "Avbryt"; the title bar's close button only closes (QDialog::reject) and leaves
// the row as it is.
void TfrmEditXrayWorkstation::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        CancelButton->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------

void TfrmEditXrayWorkstation::BitBtn1Click() {
    if (rowIsBeingChanged()) {
        try {
            m_database.SaveRegisterRow();
        } catch (const std::exception& failure) {
            m_database.QXRAYWORKSTATIONS->Cancel();
            FailureMessage(QStringLiteral("An error occurred while saving!\r\r") + FailureText(failure));
        }
    }
    accept();
}

void TfrmEditXrayWorkstation::BitBtn2Click() {
    if (rowIsBeingChanged())
        m_database.QXRAYWORKSTATIONS->Cancel();
    reject();
}

void TfrmEditXrayWorkstation::BitBtn4Click() {
    // Through the edit box, which stores it in the row.
    ComputerNameEdit->setText(GetWorkstationName());
}

// The names are taken as they stand in the row now, typed but unsaved changes included.
void TfrmEditXrayWorkstation::BitBtn3Click() {
    if (!QuestionBox(QStringLiteral("Warning! This will make the device open for all "
                                    "connections!\r\rRemove all current locks?")))
        return;
    QString station;
    QString device;
    try {
        station = m_database.QXRAYWORKSTATIONS->FieldByName(kXrayStation).AsString();
        device = m_database.QXRAYWORKSTATIONS->FieldByName(kXrayStationId).AsString();
    } catch (const std::exception& failure) {
        FailureMessage(kLockResetFailure + FailureText(failure));
        return;
    }
    RemoveDeviceLocksAndTell(m_database, station, device);
}

void RemoveDeviceLocksAndTell(TXrayDatabase& database, const QString& stationName,
                              const QString& deviceLabel) {
    try {
        database.RemoveDeviceLocks(stationName, deviceLabel);
        WarningBox(QStringLiteral("Device unlocked. Press OK to Confirm."));
    } catch (const std::exception& failure) {
        FailureMessage(kLockResetFailure + FailureText(failure));
    }
}
