#include "settings/USettings.h"

#include "platform/DialogService.h"
#include "platform/Paths.h"
#include "settings/EmbeddedDefault.h"
#include "settings/UPacsSettings.h"
#include "settings/UXrayWorkstation.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoLogin.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoPowerHandler.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSchema.h"
#include "tools/KelvoSettings.h"
#include "tools/MessageBoxes.h"
#include "tools/Udataproviders.h"

#include <QAbstractProxyModel>
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTableView>

#include <exception>

bool gUpdating = false;

namespace {

const QString kXRay = QStringLiteral("XRay");
const QString kFileTypeBits = QStringLiteral("FileTypeBits");
const QString kFileTypeExt = QStringLiteral("FileTypeExt");
const QString kPlaySound = QStringLiteral("PlaySoundWhenScannerIsReady");
const QString kTotoOneShot = QStringLiteral("TotoOneShot");
const QString kWorkstations = QStringLiteral("XRAYWORKSTATIONS");
const QString kLockList = QStringLiteral("XRAYDEVICELOCKLIST");

QString trueText(bool value) {
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
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

TADOQuery* makeQuery(QObject* owner, TADOConnection* connection, const QString& name, TADOLockType lockType,
                     const QStringList& lines = {}) {
    auto* query = new TADOQuery(owner);
    query->setObjectName(name);
    query->SetConnection(connection);
    query->SetLockType(lockType);
    if (!lines.isEmpty())
        query->SetSQL(lines);
    return query;
}

void declareSize(TADOQuery* query, const QString& parameter, int size) {
    query->Parameters().ParamByName(parameter).Size = size;
}

// A LIKE pattern that finds `text` anywhere, its wildcard characters taken literally
// ("!" is the escape character; SQL Server also reads "[" as the start of a set).
QString containsPattern(const QString& text, DataLinkEngine engine) {
    QString escaped;
    for (const QChar c : text) {
        if (c == QLatin1Char('!') || c == QLatin1Char('%') || c == QLatin1Char('_') ||
            (c == QLatin1Char('[') && engine == DataLinkEngine::SqlServer))
            escaped.append(QLatin1Char('!'));
        escaped.append(c);
    }
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

// ---------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------

TfrmSettings::TfrmSettings(TSettingsLinks links, QWidget* parent)
    : QDialog(parent)
    , m_links(std::move(links)) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(461, 352);
    createDataModule();
    createControls();
    connectHandlers();
    FormCreate();
}

TfrmSettings::~TfrmSettings() {
    // Closed while this window is whole: closing tells the grid and the buttons.
    Database1->Close();
    QXRAYWORKSTATIONS->disconnect(this);
}

void TfrmSettings::createDataModule() {
    Database1 = new TADOConnection(this);
    Database1->SetName(QStringLiteral("Database1"));
    // Suspend and resume close and reopen it with the program's other connections.
    RegisterPowerConnection(Database1);

    const QString selectWorkstations = QStringLiteral("SELECT * FROM XRAYWORKSTATIONS");
    QXRAYWORKSTATIONS =
        makeQuery(this, Database1, QStringLiteral("QXRAYWORKSTATIONS"), TADOLockType::ltOptimistic,
                  {selectWorkstations, QStringLiteral("ORDER BY STATIONID")});
    // Its text is the engine's CREATE TABLE, set when the connection's engine is known.
    QCREATEXRAYWORKSTATIONS =
        makeQuery(this, Database1, QStringLiteral("QCREATEXRAYWORKSTATIONS"), TADOLockType::ltReadOnly);
    QOVRIGT = makeQuery(this, Database1, QStringLiteral("QOVRIGT"), TADOLockType::ltReadOnly);
    QXRAYDEV = makeQuery(this, Database1, QStringLiteral("QXRAYDEV"), TADOLockType::ltReadOnly,
                         {selectWorkstations, QStringLiteral("WHERE COMPUTERNAME =:computername"),
                          QStringLiteral("AND XRAYSTATION =:xraystation"),
                          QStringLiteral("AND XRAYSTATIONID =:xraystationid")});
    declareSize(QXRAYDEV, QStringLiteral("computername"), 50);
    declareSize(QXRAYDEV, QStringLiteral("xraystation"), 30);
    declareSize(QXRAYDEV, QStringLiteral("xraystationid"), 20);
    QCONNECTEDDEV = makeQuery(
        this, Database1, QStringLiteral("QCONNECTEDDEV"), TADOLockType::ltOptimistic,
        {QStringLiteral("SELECT * FROM XRAYDEVICELOCKLIST"), QStringLiteral("WHERE XRAYSTATION =:xrayname"),
         QStringLiteral("AND XRAYSTATIONID =:xrayid"), QStringLiteral("ORDER BY LOCKNUMBER")});
    declareSize(QCONNECTEDDEV, QStringLiteral("xrayname"), 50);
    QCREATEXRAYDEVICELOCKLIST =
        makeQuery(this, Database1, QStringLiteral("QCREATEXRAYDEVICELOCKLIST"), TADOLockType::ltReadOnly);
    QXRAYDEVICES = makeQuery(this, Database1, QStringLiteral("QXRAYDEVICES"), TADOLockType::ltReadOnly,
                             {selectWorkstations, QStringLiteral("WHERE COMPUTERNAME =:computername"),
                              QStringLiteral("AND XRAYSTATION =:xraystation")});
    declareSize(QXRAYDEVICES, QStringLiteral("computername"), 50);
    declareSize(QXRAYDEVICES, QStringLiteral("xraystation"), 30);

    DataSource1 = new TDataSetModel(QXRAYWORKSTATIONS, this);
}

void TfrmSettings::createControls() {
    GroupBox2 = new QGroupBox(QStringLiteral("Current DataProvider"), this);
    GroupBox2->setGeometry(8, 4, 300, 52);
    auto* providerPanel = new QLabel(GroupBox2);
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
    BitBtn3 = new QPushButton(QStringLiteral("Select..."), GroupBox2);
    BitBtn3->setGeometry(214, 19, 78, 26);

    BitBtn1 = new QPushButton(QStringLiteral("Connect"), this);
    BitBtn1->setGeometry(316, 18, 137, 30);

    createRegisterGroup();

    // Covers the register while there is no connection.
    auto* cover = new QLabel(QStringLiteral("Connect to database"), this);
    cover->setGeometry(GroupBox1->geometry());
    cover->setAlignment(Qt::AlignCenter);
    cover->setFrameStyle(QFrame::Panel | QFrame::Raised);
    cover->setAutoFillBackground(true);
    Panel3 = cover;

    createFormatGroups();

    GroupBox4 = new QGroupBox(QStringLiteral("Sound"), this);
    GroupBox4->setGeometry(316, 196, 137, 112);
    CheckBox1 = new TWrappingCheckBox(QStringLiteral("Play sound when scanner is ready"), GroupBox4);
    CheckBox1->setGeometry(8, 18, 125, 52);
    CheckBox2 = new QCheckBox(QStringLiteral("Toto - Oneshot"), GroupBox4);
    CheckBox2->setGeometry(8, 76, 125, 24);
    CheckBox2->setToolTip(QStringLiteral("When using Digora Toto, close after every new image"));

    BitBtn2 = new QPushButton(QStringLiteral("Return"), this);
    BitBtn2->setGeometry(376, 316, 77, 30);
    btnPacs = new QPushButton(QStringLiteral("PACS..."), this);
    btnPacs->setObjectName(QStringLiteral("btnPacs"));
    btnPacs->setGeometry(316, 316, 56, 30);
}

void TfrmSettings::createRegisterGroup() {
    GroupBox1 = new QGroupBox(QStringLiteral("Xraystations and workstations"), this);
    GroupBox1->setGeometry(8, 60, 300, 286);
    BitBtn42 = new QPushButton(QStringLiteral("Add..."), GroupBox1);
    BitBtn42->setGeometry(8, 20, 58, 26);
    BitBtn44 = new QPushButton(QStringLiteral("Edit..."), GroupBox1);
    BitBtn44->setGeometry(70, 20, 58, 26);
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setGeometry(132, 22, 94, 22);
    Edit1->setPlaceholderText(QStringLiteral("(Search)"));
    BitBtn89 = new QPushButton(QStringLiteral("Delete..."), GroupBox1);
    BitBtn89->setGeometry(230, 20, 62, 26);

    wwDBGrid1 = new QTableView(GroupBox1);
    wwDBGrid1->setGeometry(8, 52, 284, 226);
    wwDBGrid1->setModel(
        new TGridColumns({{QStringLiteral("Xraystation"), QStringLiteral("XRAYSTATION"), 18},
                          {QStringLiteral("XraystationID"), QStringLiteral("XRAYSTATIONID"), 17},
                          {QStringLiteral("Workstationname"), QStringLiteral("COMPUTERNAME"), 17}},
                         DataSource1, wwDBGrid1));
    wwDBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    wwDBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    wwDBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    wwDBGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    wwDBGrid1->verticalHeader()->hide();
    wwDBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);

    PopupMenu1 = new QMenu(this);
    Removealllocksonselecteddevice1 =
        PopupMenu1->addAction(QStringLiteral("Remove all locks on selected device"));
}

void TfrmSettings::createFormatGroups() {
    GroupBox3 = new QGroupBox(QStringLiteral("Filetype"), this);
    GroupBox3->setGeometry(316, 60, 137, 130);
    // Each panel is a group of its own: checking a button unchecks the others of its panel.
    const auto sunkenPanel = [this](int top, int height) {
        auto* panel = new QFrame(GroupBox3);
        panel->setGeometry(8, top, 121, height);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return panel;
    };
    QFrame* depth = sunkenPanel(18, 46);
    RadioButton1 = new QRadioButton(QStringLiteral("8 bits"), depth);
    RadioButton1->setGeometry(6, 3, 110, 19);
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton(QStringLiteral("16 bits"), depth);
    RadioButton2->setGeometry(6, 23, 110, 19);
    RadioButton2->setEnabled(false);

    QFrame* type = sunkenPanel(68, 58);
    RadioButton3 = new QRadioButton(QStringLiteral("DIB"), type);
    RadioButton3->setGeometry(6, 2, 110, 18);
    RadioButton3->setChecked(true);
    RadioButton4 = new QRadioButton(QStringLiteral("DCM"), type);
    RadioButton4->setGeometry(6, 20, 110, 18);
    RadioButton5 = new QRadioButton(QStringLiteral("RAW"), type);
    RadioButton5->setGeometry(6, 38, 110, 18);
}

void TfrmSettings::connectHandlers() {
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmSettings::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmSettings::BitBtn2Click);
    connect(btnPacs, &QPushButton::clicked, this, &TfrmSettings::btnPacsClick);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmSettings::BitBtn3Click);
    connect(BitBtn42, &QPushButton::clicked, this, &TfrmSettings::BitBtn42Click);
    connect(BitBtn44, &QPushButton::clicked, this, &TfrmSettings::BitBtn44Click);
    connect(BitBtn89, &QPushButton::clicked, this, &TfrmSettings::BitBtn89Click);
    connect(Edit1, &QLineEdit::textChanged, this, &TfrmSettings::Edit1Change);
    connect(CheckBox1, &QCheckBox::toggled, this, &TfrmSettings::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TfrmSettings::CheckBox2Click);
    // A format handler runs when its button becomes checked, by the user or by code.
    const QList<std::pair<QRadioButton*, void (TfrmSettings::*)()>> formats{
        {RadioButton1, &TfrmSettings::RadioButton1Click},
        {RadioButton2, &TfrmSettings::RadioButton2Click},
        {RadioButton3, &TfrmSettings::RadioButton3Click},
        {RadioButton4, &TfrmSettings::RadioButton4Click},
        {RadioButton5, &TfrmSettings::RadioButton5Click}};
    for (const auto& [button, handler] : formats) {
        connect(button, &QRadioButton::toggled, this, [this, handler = handler](bool checked) {
            if (checked)
                (this->*handler)();
        });
    }
    connect(QXRAYWORKSTATIONS, &TCustomADODataSet::DataChanged, this, [this] {
        DataSource1StateChange();
        showCurrentRecord();
    });
    connect(QXRAYWORKSTATIONS, &TCustomADODataSet::RecordMoved, this, &TfrmSettings::showCurrentRecord);
    connect(wwDBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { selectRecord(current.row()); });
    connect(wwDBGrid1, &QWidget::customContextMenuRequested, this, &TfrmSettings::showGridMenu);
    // The view's own doubleClicked names a cell only; the empty grid must answer too.
    wwDBGrid1->viewport()->installEventFilter(this);
    connect(Removealllocksonselecteddevice1, &QAction::triggered, this,
            &TfrmSettings::Removealllocksonselecteddevice1Click);
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::FormCreate() {
    const QStringList arguments =
        m_links.Arguments.isEmpty() ? QCoreApplication::arguments() : m_links.Arguments;
    InitApplicationEnvironment(arguments);
    // The login's cipher is keyed by the login itself (KelvoLogin), so there is none to make here.
    Panel3->raise();
    EnsureEmbeddedDataLink(Environment().DataLinksPath);
    findDataLinkFile();

    gUpdating = true;
    CheckBox1->setChecked(SettingIsTrue(ReadSetting(kXRay, kPlaySound), true));
    CheckBox2->setChecked(SettingIsTrue(ReadSetting(kXRay, kTotoOneShot), true));
    restoreFormatChoices();
    gUpdating = false;
}

// The data-link file at creation: the stored default, overridden by a data-link argument
// that names a file as given, in the program's folder or in the data-link folder.
void TfrmSettings::findDataLinkFile() {
    TApplicationEnvironment& env = Environment();
    env.ConnectionString.clear();
    const QString setting =
        ReadSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"));
    env.DataProviderFile = fileExists(setting) ? setting : env.DataLinksPath + setting;

    const QStringList arguments =
        m_links.Arguments.isEmpty() ? QCoreApplication::arguments() : m_links.Arguments;
    const QString programDir = m_links.ProgramDir.isEmpty()
                                   ? platform::paths().executableDirectory() + QLatin1Char('/')
                                   : m_links.ProgramDir;
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.toUpper().contains(QStringLiteral(".UDL")))
            continue;
        for (const QString& candidate : {argument, programDir + argument, env.DataLinksPath + argument}) {
            if (fileExists(candidate)) {
                env.DataProviderFile = candidate;
                break;
            }
        }
    }

    if (fileExists(env.DataProviderFile)) {
        env.ConnectionString =
            QStringLiteral("Provider=") +
            ReadIniString(env.DataProviderFile, QStringLiteral("oledb"), QStringLiteral("Provider"));
        lblDataProvider->setText(FileNamePart(env.DataProviderFile));
    }
}

void TfrmSettings::restoreFormatChoices() {
    // Checking a button unchecks the others of its panel; unchecking the checked one is
    // refused, which leaves the designed "DIB" and "8 bits" for anything unknown.
    const QString type = ReadSetting(kXRay, kFileTypeExt);
    RadioButton4->setChecked(type == QStringLiteral("DCM"));
    RadioButton3->setChecked(type == QStringLiteral("DIB"));
    RadioButton5->setChecked(type == QStringLiteral("RAW"));
    const QString depth = ReadSetting(kXRay, kFileTypeBits);
    RadioButton1->setChecked(depth == QStringLiteral("8"));
    RadioButton2->setChecked(depth == QStringLiteral("16"));

    if (!RadioButton2->isChecked())
        RadioButton1->setChecked(true);
    if (!RadioButton3->isChecked() && !RadioButton4->isChecked() && !RadioButton5->isChecked())
        RadioButton3->setChecked(true);
}

// ---------------------------------------------------------------------------------------

bool TfrmSettings::TableExists(const QString& tableName) {
    try {
        QOVRIGT->Close();
        QOVRIGT->SetSQL({QStringLiteral("SELECT * FROM ") + tableName + QStringLiteral(" WHERE 1 = 0")});
        QOVRIGT->Open();
        QOVRIGT->Close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TfrmSettings::ConnectToDatabase() {
    StartProgress(QStringLiteral("Ansluter till databasen"),
                  QStringLiteral("Ansluter till databasen, vänta..."));
    Panel3->show();
    Panel3->raise();
    if (!BuildConnectionString(QString(), QString())) {
        EndProgress(false);
        return false;
    }
    TApplicationEnvironment& env = Environment();
    lblDataProvider->setText(FileNamePart(env.DataProviderFile));

    bool connected = false;
    try {
        Database1->Close();
        Database1->SetConnectionString(env.ConnectionString);
        Database1->Open();
        const DataLinkEngine engine = Database1->Engine();
        if (!TableExists(kWorkstations)) {
            Database1->BeginTrans();
            QCREATEXRAYWORKSTATIONS->SetSQL(CreateXrayWorkstationsSql(engine));
            QCREATEXRAYWORKSTATIONS->ExecSQL();
            Database1->CommitTrans();
        }
        if (!TableExists(kLockList)) {
            Database1->BeginTrans();
            QCREATEXRAYDEVICELOCKLIST->SetSQL(CreateXrayDeviceLockListSql(engine));
            QCREATEXRAYDEVICELOCKLIST->ExecSQL();
            Database1->CommitTrans();
        }
        Database1->BeginTrans();
        QXRAYWORKSTATIONS->Open();
        Panel3->hide();
        BitBtn1->setEnabled(false);
        connected = true;
    } catch (const std::exception& failure) {
        // A half-made connection would be used by the main window's look-ups behind the
        // cover; without a connection they fail plainly instead.
        Database1->Close();
        EndProgress(false);
        const TDBConnection& record = DBConnection();
        InformationMessage(QStringLiteral("Det gick inte att ansluta till databasen ") + record.ServerName +
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
    TApplicationEnvironment& env = Environment();
    env.DataProviderFile = env.DataLinksPath + ChooseDataProvider(QStringLiteral("DefaultDataProvider"));
    lblDataProvider->setText(FileNamePart(env.DataProviderFile));
    Database1->Close();
    BitBtn1->setEnabled(true);
    Panel3->show();
    Panel3->raise();
    if (m_links.SetGrabEnabled)
        m_links.SetGrabEnabled(false);
}

void TfrmSettings::BitBtn42Click() {
    editWorkstation([this] { QXRAYWORKSTATIONS->Append(); });
}

// An empty register has no row to edit; Edit() starts a new one there.
void TfrmSettings::BitBtn44Click() {
    editWorkstation([this] { QXRAYWORKSTATIONS->Edit(); });
}

void TfrmSettings::wwDBGrid1DblClick() {
    BitBtn44Click();
}

void TfrmSettings::editWorkstation(const std::function<void()>& startRow) {
    TfrmEditXrayWorkstation editor(QXRAYWORKSTATIONS, Database1, this);
    unguarded([&] {
        startRow();
        editor.exec();
    });
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event) {
    if (watched == wwDBGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        wwDBGrid1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmSettings::BitBtn89Click() {
    if (!QuestionBox(QStringLiteral("Delete selected Xraystation/Workstation?")))
        return;
    unguarded([this] {
        QXRAYWORKSTATIONS->Delete();
        if (Database1->InTransaction())
            Database1->CommitTrans();
        QXRAYWORKSTATIONS->Close();
        Database1->BeginTrans();
        QXRAYWORKSTATIONS->Open();
    });
}

// The search text is bound as a value, so quotes in it are plain characters and "%" and
// "_" match only themselves.
void TfrmSettings::Edit1Change() {
    unguarded([this] {
        QXRAYWORKSTATIONS->Close();
        QXRAYWORKSTATIONS->SQL()->Clear();
        const QString search = Edit1->text();
        if (search > QStringLiteral(" ")) {
            QXRAYWORKSTATIONS->SQL()->Add(
                QStringLiteral("SELECT * FROM XRAYWORKSTATIONS WHERE UPPER(XRAYSTATION) LIKE UPPER(:search) "
                               "ESCAPE '!' OR UPPER(XRAYSTATIONID) LIKE UPPER(:search) ESCAPE '!' "
                               "ORDER BY STATIONID"));
            QXRAYWORKSTATIONS->Parameters().ParamByName(QStringLiteral("search")).Value = containsPattern(
                search, Database1->Connected() ? Database1->Engine() : DataLinkEngine::SqlServer);
        } else {
            QXRAYWORKSTATIONS->SQL()->Add(
                QStringLiteral("SELECT * FROM XRAYWORKSTATIONS ORDER BY STATIONID"));
        }
        QXRAYWORKSTATIONS->Open();
    });
}

void TfrmSettings::DataSource1StateChange() {
    if (!QXRAYWORKSTATIONS->Active())
        return;
    const bool hasRows = !QXRAYWORKSTATIONS->IsEmpty();
    BitBtn44->setEnabled(hasRows);
    BitBtn89->setEnabled(hasRows);
}

void TfrmSettings::Removealllocksonselecteddevice1Click() {
    QString station;
    QString device;
    try {
        station = QXRAYWORKSTATIONS->FieldByName(QStringLiteral("XRAYSTATION")).AsString();
        device = QXRAYWORKSTATIONS->FieldByName(QStringLiteral("XRAYSTATIONID")).AsString();
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
        return;
    }
    if (!QuestionBox(QStringLiteral("Warning! This will make the device open for all connections!\r\r"
                                    "Remove all current locks on ") +
                     station + QStringLiteral(" - ") + device + QStringLiteral("?")))
        return;
    try {
        if (!Database1->InTransaction())
            Database1->BeginTrans();
        Database1->Execute(QStringLiteral("DELETE FROM XRAYDEVICELOCKLIST WHERE XRAYSTATION = :station "
                                          "AND XRAYSTATIONID = :device"),
                           {{QStringLiteral("station"), station}, {QStringLiteral("device"), device}});
        // Committed at once: the next read-only look-up would otherwise roll the removal
        // back, after the user has been told that the device is unlocked.
        Database1->CommitTrans();
        Database1->BeginTrans();
        WarningBox(QStringLiteral("Device unlocked. Press OK to Confirm."));
    } catch (const std::exception& failure) {
        InformationMessage(
            QStringLiteral("An error occurred while resetting DeviceLock-information in database!\r\r") +
            FailureText(failure));
    }
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::scanImage() {
    if (m_links.ScanImage)
        m_links.ScanImage();
}

void TfrmSettings::RadioButton1Click() {
    if (gUpdating)
        return;
    WriteSetting(kXRay, kFileTypeBits, QStringLiteral("8"));
    scanImage();
}

void TfrmSettings::RadioButton2Click() {
    if (gUpdating)
        return;
    WriteSetting(kXRay, kFileTypeBits, QStringLiteral("16"));
    scanImage();
}

void TfrmSettings::RadioButton3Click() {
    if (gUpdating)
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("DIB"));
    scanImage();
    formatDependentStates();
}

void TfrmSettings::RadioButton4Click() {
    if (gUpdating)
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("DCM"));
    scanImage();
    formatDependentStates();
}

void TfrmSettings::RadioButton5Click() {
    if (gUpdating)
        return;
    WriteSetting(kXRay, kFileTypeExt, QStringLiteral("RAW"));
    scanImage();
    formatDependentStates();
}

// Only RAW and DICOM carry more than 8 bits; only a DIB can be previewed.
void TfrmSettings::formatDependentStates() {
    RadioButton2->setEnabled(RadioButton5->isChecked() || RadioButton4->isChecked());
    if (m_links.SetPreviewEnabled)
        m_links.SetPreviewEnabled(RadioButton3->isChecked());
    if (!RadioButton2->isEnabled())
        RadioButton1->setChecked(true);
}

void TfrmSettings::CheckBox1Click() {
    WriteSetting(kXRay, kPlaySound, trueText(CheckBox1->isChecked()));
}

void TfrmSettings::CheckBox2Click() {
    WriteSetting(kXRay, kTotoOneShot, trueText(CheckBox2->isChecked()));
}

// ---------------------------------------------------------------------------------------

void TfrmSettings::showCurrentRecord() {
    auto* columns = static_cast<TGridColumns*>(wwDBGrid1->model());
    for (int i = 0; i < columns->columns().size(); ++i)
        wwDBGrid1->setColumnWidth(
            i, fontMetrics().averageCharWidth() * columns->columns().at(i).widthInCharacters + 8);
    const int row = QXRAYWORKSTATIONS->RecNo() - 1;
    if (row < 0 || row == wwDBGrid1->currentIndex().row())
        return;
    wwDBGrid1->setCurrentIndex(columns->index(row, 0));
}

void TfrmSettings::selectRecord(int row) {
    if (row < 0 || !QXRAYWORKSTATIONS->Active() || QXRAYWORKSTATIONS->State() != TDataSetState::dsBrowse ||
        row + 1 == QXRAYWORKSTATIONS->RecNo())
        return;
    QXRAYWORKSTATIONS->SetRecNo(row + 1);
}

void TfrmSettings::showGridMenu(const QPoint& position) {
    // The entry acts on the current row; an empty or closed register has none.
    if (QXRAYWORKSTATIONS->RecNo() == 0)
        return;
    PopupMenu1->exec(wwDBGrid1->viewport()->mapToGlobal(position));
}
