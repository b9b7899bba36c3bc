#include "settings/USettings.h"

#include "database/EmbeddedDefault.h"
#include "database/KelvoLogin.h"
#include "settings/UPacsSettings.h"
#include "settings/UXrayWorkstation.h"
#include "settings/Udataproviders.h"
#include "tools/DesignerNames.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"
#include "tools/MessageBoxes.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTableView>

#include <exception>

namespace {

const QString kXRay = QStringLiteral("XRay");
const QString kFileTypeBits = QStringLiteral("FileTypeBits");
const QString kFileTypeExt = QStringLiteral("FileTypeExt");
const QString kPlaySound = QStringLiteral("PlaySoundWhenScannerIsReady");
const QString kTotoOneShot = QStringLiteral("TotoOneShot");

QString trueText(bool value) {
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

template <typename Handler> void unguarded(Handler handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
    }
}

// A check box whose caption wraps over several lines when it is wider than the box.
class TWrappingCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_CheckBox, option);
        const QRect textArea = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
        painter.drawText(textArea, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter, text());
    }
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
};

// One column of the register grid: its title and the field it shows.
struct TGridColumn {
    QString title;
    QString fieldName;
    int widthInCharacters;
};

// The grid's columns over the register query's model: chosen fields, in the grid's own
// order and under its own titles, read-only.
class TGridColumns : public QAbstractProxyModel {
public:
    TGridColumns(QList<TGridColumn> columns, TDataSetModel* source, QObject* parent)
        : QAbstractProxyModel(parent)
        , m_columns(std::move(columns)) {
        setSourceModel(source);
        // The data set's model only ever resets.
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(source, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
    }

    const QList<TGridColumn>& columns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : sourceModel()->rowCount();
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() || sourceModel()->columnCount() == 0 ? 0 : int(m_columns.size());
    }
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
    }
    QModelIndex parent(const QModelIndex&) const override { return {}; }

    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override {
        if (!proxyIndex.isValid())
            return {};
        const int column = sourceColumn(m_columns.at(proxyIndex.column()).fieldName);
        return column < 0 ? QModelIndex() : sourceModel()->index(proxyIndex.row(), column);
    }
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override {
        if (!sourceIndex.isValid())
            return {};
        const QString field = sourceModel()->headerData(sourceIndex.column(), Qt::Horizontal).toString();
        for (int i = 0; i < m_columns.size(); ++i) {
            if (m_columns.at(i).fieldName.compare(field, Qt::CaseInsensitive) == 0)
                return index(sourceIndex.row(), i);
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < m_columns.size())
            return m_columns.at(section).title;
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }

private:
    int sourceColumn(const QString& fieldName) const {
        for (int i = 0; i < sourceModel()->columnCount(); ++i) {
            if (sourceModel()
                    ->headerData(i, Qt::Horizontal)
                    .toString()
                    .compare(fieldName, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    QList<TGridColumn> m_columns;
};

} // namespace

// ---------------------------------------------------------------------------------------

TfrmSettings::TfrmSettings(TXrayDatabase& database, TSettingsLinks links, QWidget* parent)
    : QDialog(parent)
    , RegisterModel(new TDataSetModel(database.QXRAYWORKSTATIONS, this))
    , m_database(database)
    , m_links(std::move(links)) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(461, 352);
    createControls();
    connectHandlers();
    FormCreate();
}

TfrmSettings::~TfrmSettings() {
    // The register query outlives the window; its changes must no longer reach the grid.
    m_database.QXRAYWORKSTATIONS->disconnect(this);
}

void TfrmSettings::createControls() {
    DataProviderGroup = new QGroupBox(QStringLiteral("Current DataProvider"), this);
    DataProviderGroup->setGeometry(8, 4, 300, 52);
    auto* providerPanel = new QLabel(DataProviderGroup);
    providerPanel->setGeometry(8, 20, 200, 24);
    providerPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    providerPanel->setAutoFillBackground(true);
    QPalette silver = providerPanel->palette();
    silver.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    providerPanel->setPalette(silver);
    lblDataProvider = new QLabel(QStringLiteral("(ingen vald)"), providerPanel);
    lblDataProvider->setGeometry(4, 2, 192, 20);
    QPalette blue = lblDataProvider->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    lblDataProvider->setPalette(blue);
    SelectButton = new QPushButton(QStringLiteral("Select..."), DataProviderGroup);
    SelectButton->setGeometry(214, 19, 78, 26);

    ConnectButton = new QPushButton(QStringLiteral("Connect"), this);
    ConnectButton->setGeometry(316, 18, 137, 30);

    createRegisterGroup();

    // Covers the register while there is no connection.
    auto* cover = new QLabel(QStringLiteral("Connect to database"), this);
    cover->setGeometry(RegisterGroup->geometry());
    cover->setAlignment(Qt::AlignCenter);
    cover->setFrameStyle(QFrame::Panel | QFrame::Raised);
    cover->setAutoFillBackground(true);
    ConnectCover = cover;

    createFormatGroups();

    SoundGroup = new QGroupBox(QStringLiteral("Sound"), this);
    SoundGroup->setGeometry(316, 196, 137, 112);
    PlaySoundCheckBox = new TWrappingCheckBox(QStringLiteral("Play sound when scanner is ready"), SoundGroup);
    PlaySoundCheckBox->setGeometry(8, 18, 125, 52);
    TotoOneShotCheckBox = new QCheckBox(QStringLiteral("Toto - Oneshot"), SoundGroup);
    TotoOneShotCheckBox->setGeometry(8, 76, 125, 24);
    TotoOneShotCheckBox->setToolTip(QStringLiteral("When using Digora Toto, close after every new image"));

    // Made in reading order, which is the order Tab takes.
    btnPacs = new QPushButton(QStringLiteral("PACS..."), this);
    btnPacs->setObjectName(QStringLiteral("btnPacs"));
    btnPacs->setGeometry(316, 316, 56, 30);
    ReturnButton = new QPushButton(QStringLiteral("Return"), this);
    ReturnButton->setGeometry(376, 316, 77, 30);
    KeepDesignerNames({{DataProviderGroup, "GroupBox2"},
                       {lblDataProvider, "lblDataProvider"},
                       {SelectButton, "BitBtn3"},
                       {ConnectButton, "BitBtn1"},
                       {RegisterGroup, "GroupBox1"},
                       {AddButton, "BitBtn42"},
                       {EditButton, "BitBtn44"},
                       {SearchEdit, "Edit1"},
                       {DeleteButton, "BitBtn89"},
                       {RegisterGrid, "wwDBGrid1"},
                       {RegisterModel, "DataSource1"},
                       {RegisterMenu, "PopupMenu1"},
                       {RemoveAllLocksAction, "Removealllocksonselecteddevice1"},
                       {ConnectCover, "Panel3"},
                       {FileTypeGroup, "GroupBox3"},
                       {Bits8Button, "RadioButton1"},
                       {Bits16Button, "RadioButton2"},
                       {DibButton, "RadioButton3"},
                       {DcmButton, "RadioButton4"},
                       {RawButton, "RadioButton5"},
                       {SoundGroup, "GroupBox4"},
                       {PlaySoundCheckBox, "CheckBox1"},
                       {TotoOneShotCheckBox, "CheckBox2"},
                       {ReturnButton, "BitBtn2"}});
}

void TfrmSettings::createRegisterGroup() {
    RegisterGroup = new QGroupBox(QStringLiteral("Xraystations and workstations"), this);
    RegisterGroup->setGeometry(8, 60, 300, 286);
    AddButton = new QPushButton(QStringLiteral("Add..."), RegisterGroup);
    AddButton->setGeometry(8, 20, 58, 26);
    EditButton = new QPushButton(QStringLiteral("Edit..."), RegisterGroup);
    EditButton->setGeometry(70, 20, 58, 26);
    SearchEdit = new QLineEdit(RegisterGroup);
    SearchEdit->setGeometry(132, 22, 94, 22);
    SearchEdit->setPlaceholderText(QStringLiteral("(Search)"));
    DeleteButton = new QPushButton(QStringLiteral("Delete..."), RegisterGroup);
    DeleteButton->setGeometry(230, 20, 62, 26);

    RegisterGrid = new QTableView(RegisterGroup);
    RegisterGrid->setGeometry(8, 52, 284, 226);
    RegisterGrid->setModel(
        new TGridColumns({{QStringLiteral("Xraystation"), QStringLiteral("XRAYSTATION"), 18},
                          {QStringLiteral("XraystationID"), QStringLiteral("XRAYSTATIONID"), 17},
                          {QStringLiteral("Workstationname"), QStringLiteral("COMPUTERNAME"), 17}},
                         RegisterModel, RegisterGrid));
    RegisterGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    RegisterGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    RegisterGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RegisterGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    RegisterGrid->verticalHeader()->hide();
    RegisterGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab goes on to the next control; the arrow keys move between the rows.
    RegisterGrid->setTabKeyNavigation(false);

    RegisterMenu = new QMenu(this);
    RemoveAllLocksAction = RegisterMenu->addAction(QStringLiteral("Remove all locks on selected device"));
}

void TfrmSettings::createFormatGroups() {
    FileTypeGroup = new QGroupBox(QStringLiteral("Filetype"), this);
    FileTypeGroup->setGeometry(316, 60, 137, 130);
    // Each panel is a group of its own: checking a button unchecks the others of its panel.
    const auto sunkenPanel = [this](int top, int height) {
        auto* panel = new QFrame(FileTypeGroup);
        panel->setGeometry(8, top, 121, height);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return panel;
    };
    QFrame* depth = sunkenPanel(18, 46);
    Bits8Button = new QRadioButton(QStringLiteral("8 bits"), depth);
    Bits8Button->setGeometry(6, 3, 110, 19);
    Bits8Button->setChecked(true);
    Bits16Button = new QRadioButton(QStringLiteral("16 bits"), depth);
    Bits16Button->setGeometry(6, 23, 110, 19);
    Bits16Button->setEnabled(false);

    QFrame* type = sunkenPanel(68, 58);
    DibButton = new QRadioButton(QStringLiteral("DIB"), type);
    DibButton->setGeometry(6, 2, 110, 18);
    DibButton->setChecked(true);
    DcmButton = new QRadioButton(QStringLiteral("DCM"), type);
    DcmButton->setGeometry(6, 20, 110, 18);
    RawButton = new QRadioButton(QStringLiteral("RAW"), type);
    RawButton->setGeometry(6, 38, 110, 18);
}

void TfrmSettings::connectHandlers() {
    connect(ConnectButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn1Click);
    connect(ReturnButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn2Click);
    connect(btnPacs, &QPushButton::clicked, this, &TfrmSettings::btnPacsClick);
    connect(SelectButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn3Click);
    connect(AddButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn42Click);
    connect(EditButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn44Click);
    connect(DeleteButton, &QPushButton::clicked, this, &TfrmSettings::BitBtn89Click);
    connect(SearchEdit, &QLineEdit::textChanged, this, &TfrmSettings::Edit1Change);
    connect(PlaySoundCheckBox, &QCheckBox::toggled, this, &TfrmSettings::CheckBox1Click);
    connect(TotoOneShotCheckBox, &QCheckBox::toggled, this, &TfrmSettings::CheckBox2Click);
    // A format handler runs when its button becomes checked, by the user or by code.
    const QList<std::pair<QRadioButton*, void (TfrmSettings::*)()>> formats{
        {Bits8Button, &TfrmSettings::RadioButton1Click},
        {Bits16Button, &TfrmSettings::RadioButton2Click},
        {DibButton, &TfrmSettings::RadioButton3Click},
        {DcmButton, &TfrmSettings::RadioButton4Click},
        {RawButton, &TfrmSettings::RadioButton5Click}};
    for (const auto& [button, handler] : formats) {
        connect(button, &QRadioButton::toggled, this, [this, handler = handler](bool checked) {
            if (checked)
                (this->*handler)();
        });
    }
    connect(m_database.QXRAYWORKSTATIONS, &TCustomADODataSet::DataChanged, this, [this] {
        DataSource1StateChange();
        showCurrentRecord();
    });
    connect(m_database.QXRAYWORKSTATIONS, &TCustomADODataSet::RecordMoved, this,
            &TfrmSettings::showCurrentRecord);
    connect(RegisterGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { selectRecord(current.row()); });
    connect(RegisterGrid, &QWidget::customContextMenuRequested, this, &TfrmSettings::showGridMenu);
    // The view's own doubleClicked names a cell only; the empty grid must answer too.
    RegisterGrid->viewport()->installEventFilter(this);
    SearchEdit->installEventFilter(this);
    connect(RemoveAllLocksAction, &QAction::triggered, this,
            &TfrmSettings::Removealllocksonselecteddevice1Click);
}

// ---------------------------------------------------------------------------------------

// The environment, and with it the data-link file, was set up once at the program's start.
void TfrmSettings::FormCreate() {
    // The login's cipher is keyed by the login itself (KelvoLogin), so there is none to make here.
    ConnectCover->raise();
    const TDataLinkState& dataLink = m_database.DataLink();
    EnsureEmbeddedDataLink(dataLink.DataLinksPath);
    if (QFileInfo(dataLink.DataProviderFile).isFile())
        lblDataProvider->setText(FileNamePart(dataLink.DataProviderFile));

    m_loadingChoices = true;
    PlaySoundCheckBox->setChecked(SettingIsTrue(ReadSetting(kXRay, kPlaySound), true));
    TotoOneShotCheckBox->setChecked(SettingIsTrue(ReadSetting(kXRay, kTotoOneShot), true));
    restoreFormatChoices();
    m_loadingChoices = false;
}

void TfrmSettings::restoreFormatChoices() {
    // Checking a button unchecks the others of its panel; unchecking the checked one is
    // refused, which leaves the designed "DIB" and "8 bits" for anything unknown.
    const QString type = ReadSetting(kXRay, kFileTypeExt);
    DcmButton->setChecked(type == QStringLiteral("DCM"));
    DibButton->setChecked(type == QStringLiteral("DIB"));
    RawButton->setChecked(type == QStringLiteral("RAW"));
    const QString depth = ReadSetting(kXRay, kFileTypeBits);
    Bits8Button->setChecked(depth == QStringLiteral("8"));
    Bits16Button->setChecked(depth == QStringLiteral("16"));

    if (!Bits16Button->isChecked())
        Bits8Button->setChecked(true);
    if (!DibButton->isChecked() && !DcmButton->isChecked() && !RawButton->isChecked())
        DibButton->setChecked(true);
}

// ---------------------------------------------------------------------------------------

bool TfrmSettings::TableExists(const QString& tableName) {
    return m_database.TableExists(tableName);
}

bool TfrmSettings::ConnectToDatabase() {
    StartProgress(QStringLiteral("Ansluter till databasen"),
                  QStringLiteral("Ansluter till databasen, vänta..."));
    ConnectCover->show();
    ConnectCover->raise();
    if (!m_database.BuildConnectionString()) {
        EndProgress(false);
        return false;
    }
    lblDataProvider->setText(FileNamePart(m_database.DataLink().DataProviderFile));

    bool connected = false;
    try {
        m_database.Connect();
        ConnectCover->hide();
        ConnectButton->setEnabled(false);
        connected = true;
    } catch (const std::exception& failure) {
        EndProgress(false);
        const TDBConnection& record = DBConnection();
        FailureMessage(QStringLiteral("Det gick inte att ansluta till databasen ") + record.ServerName +
                       QStringLiteral(": ") + record.Databasename + QStringLiteral(" ") +
                       QStringLiteral("med användarnamnet") + QStringLiteral(" ") + record.Username +
                       QStringLiteral("\r\r") + FailureText(failure));
    }
    EndProgress(false);
    return connected;
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::BitBtn1Click() {
    const bool connected = ConnectToDatabase();
    if (m_links.SetGrabEnabled)
        m_links.SetGrabEnabled(connected);
}

void TfrmSettings::BitBtn2Click() {
    close();
}

void TfrmSettings::btnPacsClick() {
    TfrmPacsSettings dialog(this);
    dialog.exec();
}

void TfrmSettings::BitBtn3Click() {
    TDataLinkState& dataLink = m_database.DataLink();
    dataLink.DataProviderFile =
        dataLink.DataLinksPath +
        ChooseDataProvider(QStringLiteral("DefaultDataProvider"), FileNamePart(dataLink.DataProviderFile));
    lblDataProvider->setText(FileNamePart(dataLink.DataProviderFile));
    m_database.Database1->Close();
    ConnectButton->setEnabled(true);
    ConnectCover->show();
    ConnectCover->raise();
    if (m_links.SetGrabEnabled)
        m_links.SetGrabEnabled(false);
}

void TfrmSettings::BitBtn42Click() {
    editWorkstation([this] { m_database.QXRAYWORKSTATIONS->Append(); });
}

// An empty register has no row to edit; Edit() starts a new one there.
void TfrmSettings::BitBtn44Click() {
    editWorkstation([this] { m_database.QXRAYWORKSTATIONS->Edit(); });
}

void TfrmSettings::wwDBGrid1DblClick() {
    BitBtn44Click();
}

void TfrmSettings::editWorkstation(const std::function<void()>& startRow) {
    TfrmEditXrayWorkstation editor(m_database, this);
    unguarded([&] {
        startRow();
        editor.exec();
    });
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == RegisterGrid->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        wwDBGrid1DblClick();
        return true;
    }
    // The search runs as the user types; Enter there must not reach the window's default
    // button ("Select...", which would drop the connection).
    if (watched == SearchEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmSettings::BitBtn89Click() {
    if (!QuestionBox(QStringLiteral("Delete selected Xraystation/Workstation?")))
        return;
    unguarded([this] { m_database.DeleteRegisterRow(); });
}

void TfrmSettings::Edit1Change() {
    unguarded([this] { m_database.SearchRegister(SearchEdit->text()); });
}

void TfrmSettings::DataSource1StateChange() {
    const TADOQuery& workstations = *m_database.QXRAYWORKSTATIONS;
    if (!workstations.Active())
        return;
    const bool hasRows = !workstations.IsEmpty();
    EditButton->setEnabled(hasRows);
    DeleteButton->setEnabled(hasRows);
}

void TfrmSettings::Removealllocksonselecteddevice1Click() {
    QString station;
    QString device;
    try {
        station = m_database.QXRAYWORKSTATIONS->FieldByName(QStringLiteral("XRAYSTATION")).AsString();
        device = m_database.QXRAYWORKSTATIONS->FieldByName(QStringLiteral("XRAYSTATIONID")).AsString();
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
        return;
    }
    if (!QuestionBox(QStringLiteral("Warning! This will make the device open for all connections!\r\r"
                                    "Remove all current locks on ") +
                     station + QStringLiteral(" - ") + device + QStringLiteral("?")))
        return;
    RemoveDeviceLocksAndTell(m_database, station, device);
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::scanImage() {
    if (m_links.ScanImage)
        m_links.ScanImage();
}

void TfrmSettings::RadioButton1Click() {
    if (updating())
        return;
    WriteSetting(kXRay, kFileTypeBits, QStringLiteral("8"));
    scanImage();
}

void TfrmSettings::RadioButton2Click() {
    if (updating())
        return;
    WriteSetting(kXRay, kFileTypeBits, QStringLiteral("16"));
    scanImage();
}

void TfrmSettings::RadioButton3Click() {
    if (updating())
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("DIB"));
    scanImage();
    formatDependentStates();
}

void TfrmSettings::RadioButton4Click() {
    if (updating())
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("DCM"));
    scanImage();
    formatDependentStates();
}

void TfrmSettings::RadioButton5Click() {
    if (updating())
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("RAW"));
    scanImage();
    formatDependentStates();
}

bool TfrmSettings::updating() const {
    return m_loadingChoices || (m_links.DeviceListUpdating && m_links.DeviceListUpdating());
}

TImageFormat TfrmSettings::ImageFormat() const {
    TImageFormat format;
    if (Bits16Button->isChecked())
        format.Depth = ImageDepth::Bits16;
    if (RawButton->isChecked())
        format.FileType = ImageFileType::RAW;
    else if (DcmButton->isChecked())
        format.FileType = ImageFileType::DCM;
    return format;
}

// Only RAW and DICOM carry more than 8 bits; only a DIB can be previewed.
void TfrmSettings::formatDependentStates() {
    Bits16Button->setEnabled(RawButton->isChecked() || DcmButton->isChecked());
    if (m_links.SetPreviewEnabled)
        m_links.SetPreviewEnabled(DibButton->isChecked());
    if (!Bits16Button->isEnabled())
        Bits8Button->setChecked(true);
}

void TfrmSettings::CheckBox1Click() {
    WriteSetting(kXRay, kPlaySound, trueText(PlaySoundCheckBox->isChecked()));
}

void TfrmSettings::CheckBox2Click() {
    WriteSetting(kXRay, kTotoOneShot, trueText(TotoOneShotCheckBox->isChecked()));
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::showCurrentRecord() {
    auto* columns = static_cast<TGridColumns*>(RegisterGrid->model());
    for (int i = 0; i < columns->columns().size(); ++i)
        RegisterGrid->setColumnWidth(
            i, fontMetrics().averageCharWidth() * columns->columns().at(i).widthInCharacters + 8);
    const int row = m_database.QXRAYWORKSTATIONS->RecNo() - 1;
    if (row < 0 || row == RegisterGrid->currentIndex().row())
        return;
    RegisterGrid->setCurrentIndex(columns->index(row, 0));
}

void TfrmSettings::selectRecord(int row) {
    TADOQuery& workstations = *m_database.QXRAYWORKSTATIONS;
    if (row < 0 || !workstations.Active() || workstations.State() != TDataSetState::dsBrowse ||
        row + 1 == workstations.RecNo())
        return;
    workstations.SetRecNo(row + 1);
}

void TfrmSettings::showGridMenu(const QPoint& position) {
    // The entry acts on the current row; an empty or closed register has none.
    if (m_database.QXRAYWORKSTATIONS->RecNo() == 0)
        return;
    RegisterMenu->exec(RegisterGrid->viewport()->mapToGlobal(position));
}
