#include "settings/Udataproviders.h"

#include "database/DataLinkFile.h"
#include "platform/FileSystem.h"
#include "settings/DataLinkEditor.h"
#include "tools/DesignerNames.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoSettings.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("DataProvider");
const QString kSelectFirst = QStringLiteral("Välj en DataProvider först!");
const QString kBadName =
    QStringLiteral("DataProviderns namn får inte vara tomt eller innehålla \"/\" eller \"\\\"!");
constexpr int kItemHeight = 17;

// Draws the entries as the chooser always has: silver behind the selected one, the stored
// default in green, the text 2 pixels in from the entry's corner.
class TDataProviderDelegate : public QStyledItemDelegate {
public:
    TDataProviderDelegate(const TfrmDataProviders& chooser, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_chooser(chooser) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        painter->fillRect(option.rect, selected ? QColor(192, 192, 192) : QColor(Qt::white));
        const QString name = index.data(Qt::DisplayRole).toString();
        // Read for every entry, so that a default stored meanwhile shows at once.
        const bool isDefault = name.compare(m_chooser.DefaultName(), Qt::CaseInsensitive) == 0;
        QFont font = option.font;
        font.setBold(false);
        font.setItalic(false);
        painter->save();
        painter->setFont(font);
        painter->setPen(isDefault ? QColor(0, 128, 0) : QColor(Qt::black));
        const QRect textRect = option.rect.adjusted(2, 2, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, name);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
    }

private:
    const TfrmDataProviders& m_chooser;
};

bool isDataLinkName(const QString& name) {
    return name.endsWith(QStringLiteral(".udl"), Qt::CaseInsensitive) &&
           QFileInfo(Environment().DataLinksPath + name).isFile();
}

} // namespace

TfrmDataProviders::TfrmDataProviders(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("DataProviders"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ProvidersGroup = new QGroupBox(QStringLiteral("DataProviders"), this);
    AddButton = new QPushButton(QStringLiteral("Lägg till..."), ProvidersGroup);
    EditButton = new QPushButton(QStringLiteral("Redigera..."), ProvidersGroup);
    DefaultButton = new QPushButton(QStringLiteral("Välj som standard"), ProvidersGroup);
    DeleteButton = new QPushButton(QStringLiteral("Radera"), ProvidersGroup);
    ListLabel = new QLabel(QStringLiteral("Befintliga DataProviders"), ProvidersGroup);
    ProviderList = new QListWidget(ProvidersGroup);
    OkButton = new QPushButton(QStringLiteral("OK"), this);
    CancelButton = new QPushButton(QStringLiteral("Avbryt"), this);
    for (QPushButton* button : {AddButton, EditButton, DefaultButton, DeleteButton, CancelButton})
        button->setAutoDefault(false);
    OkButton->setDefault(true);

    QFont listFont(QStringLiteral("Tahoma"));
    listFont.setPixelSize(13);
    ProviderList->setFont(listFont);
    ProviderList->setUniformItemSizes(true);
    ProviderList->setItemDelegate(new TDataProviderDelegate(*this, ProviderList));

    auto* actions = new QGridLayout;
    actions->addWidget(AddButton, 0, 0);
    actions->addWidget(EditButton, 0, 1);
    actions->addWidget(DefaultButton, 1, 0);
    actions->addWidget(DeleteButton, 1, 1);
    auto* group = new QVBoxLayout(ProvidersGroup);
    group->addLayout(actions);
    group->addWidget(ListLabel);
    group->addWidget(ProviderList);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(OkButton);
    bottom->addWidget(CancelButton);
    auto* window = new QVBoxLayout(this);
    window->addWidget(ProvidersGroup);
    window->addLayout(bottom);

    connect(OkButton, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn1Click);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    KeepDesignerNames({{ProvidersGroup, "GroupBox1"},
                       {AddButton, "BitBtn4"},
                       {EditButton, "BitBtn5"},
                       {DefaultButton, "BitBtn3"},
                       {DeleteButton, "BitBtn6"},
                       {ListLabel, "Label1"},
                       {ProviderList, "ListBox1"},
                       {OkButton, "BitBtn1"},
                       {CancelButton, "BitBtn2"}});
    connect(DefaultButton, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn3Click);
    connect(AddButton, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn4Click);
    connect(EditButton, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn5Click);
    connect(DeleteButton, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn6Click);
    connect(ProviderList, &QListWidget::itemDoubleClicked, this, &TfrmDataProviders::BitBtn5Click);

    resize(209, 250);
    PrepareForm(this);
}

bool TfrmDataProviders::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

void TfrmDataProviders::FormActivate() {
    RefreshList(DefaultName());
}

QString TfrmDataProviders::DefaultName() const {
    return FileNamePart(ReadSetting(kSection, IniTextPosision));
}

QString TfrmDataProviders::SelectedName() const {
    const QList<QListWidgetItem*> selected = ProviderList->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TfrmDataProviders::RefreshList(const QString& name) {
    ProviderList->clear();
    for (const QString& entry : platform::folderEntryNames(Environment().DataLinksPath)) {
        if (isDataLinkName(entry))
            ProviderList->addItem(entry);
    }
    for (int row = 0; row < ProviderList->count(); ++row) {
        if (ProviderList->item(row)->text().compare(name, Qt::CaseInsensitive) == 0) {
            ProviderList->setCurrentRow(row);
            return;
        }
    }
}

bool TfrmDataProviders::requireSelection() {
    if (!SelectedName().isEmpty())
        return true;
    NoticeMessage(kSelectFirst);
    ProviderList->setFocus();
    return false;
}

void TfrmDataProviders::BitBtn1Click() {
    if (!requireSelection())
        return;
    // The next login reads the chosen file.
    Environment().ConnectionString.clear();
    QDialog::accept();
}

void TfrmDataProviders::BitBtn3Click() {
    if (!requireSelection())
        return;
    WriteSetting(kSection, IniTextPosision, SelectedName());
    ProviderList->viewport()->update();
}

void TfrmDataProviders::BitBtn4Click() {
    bool confirmed = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Ny DataProvider"), QStringLiteral("DataProviderns namn:"),
                              QLineEdit::Normal, QString(), &confirmed);
    if (!confirmed)
        return;
    // The name becomes part of a path: a delimiter would reach outside the data-link folder.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        NoticeMessage(kBadName);
        return;
    }
    const QString fileName = name + QStringLiteral(".udl");
    QDir().mkpath(Environment().DataLinksPath);
    QFile file(Environment().DataLinksPath + fileName);
    // An existing file of that name is emptied; a failure shows as a file missing from the list.
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.close();
    openEditor(fileName);
    RefreshList(fileName);
}

void TfrmDataProviders::BitBtn5Click() {
    if (requireSelection())
        openEditor(SelectedName());
}

void TfrmDataProviders::BitBtn6Click() {
    if (!requireSelection())
        return;
    const QString name = SelectedName();
    if (!ConfirmMessage(QStringLiteral("Radera DataProvider-filen") + QLatin1Char(' ') + name))
        return;
    QFile::remove(Environment().DataLinksPath + name);
    RefreshList(QString());
}

void TfrmDataProviders::openEditor(const QString& name) {
    OpenDataLinkEditor(Environment().DataLinksPath + name, this);
}

QString ChooseDataProvider(const QString& settingKey) {
    return ChooseDataProvider(settingKey, FileNamePart(Environment().DataProviderFile));
}

QString ChooseDataProvider(const QString& settingKey, const QString& currentName) {
    QString result = currentName;
    TfrmDataProviders chooser;
    chooser.IniTextPosision = settingKey;
    if (chooser.exec() == QDialog::Accepted)
        result = chooser.SelectedName();
    return result;
}
