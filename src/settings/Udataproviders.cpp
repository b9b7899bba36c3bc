#include "settings/Udataproviders.h"

#include "database/DataLinkFile.h"
#include "platform/FileSystem.h"
#include "settings/DataLinkEditor.h"
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

    GroupBox1 = new QGroupBox(QStringLiteral("DataProviders"), this);
    BitBtn4 = new QPushButton(QStringLiteral("Lägg till..."), GroupBox1);
    BitBtn5 = new QPushButton(QStringLiteral("Redigera..."), GroupBox1);
    BitBtn3 = new QPushButton(QStringLiteral("Välj som standard"), GroupBox1);
    BitBtn6 = new QPushButton(QStringLiteral("Radera"), GroupBox1);
    Label1 = new QLabel(QStringLiteral("Befintliga DataProviders"), GroupBox1);
    ListBox1 = new QListWidget(GroupBox1);
    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn2 = new QPushButton(QStringLiteral("Avbryt"), this);
    for (QPushButton* button : {BitBtn4, BitBtn5, BitBtn3, BitBtn6, BitBtn2})
        button->setAutoDefault(false);
    BitBtn1->setDefault(true);

    QFont listFont(QStringLiteral("Tahoma"));
    listFont.setPixelSize(13);
    ListBox1->setFont(listFont);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TDataProviderDelegate(*this, ListBox1));

    auto* actions = new QGridLayout;
    actions->addWidget(BitBtn4, 0, 0);
    actions->addWidget(BitBtn5, 0, 1);
    actions->addWidget(BitBtn3, 1, 0);
    actions->addWidget(BitBtn6, 1, 1);
    auto* group = new QVBoxLayout(GroupBox1);
    group->addLayout(actions);
    group->addWidget(Label1);
    group->addWidget(ListBox1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(BitBtn1);
    bottom->addWidget(BitBtn2);
    auto* window = new QVBoxLayout(this);
    window->addWidget(GroupBox1);
    window->addLayout(bottom);

    connect(BitBtn1, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn3, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TfrmDataProviders::BitBtn6Click);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TfrmDataProviders::BitBtn5Click);

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
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void TfrmDataProviders::RefreshList(const QString& name) {
    ListBox1->clear();
    for (const QString& entry : platform::folderEntryNames(Environment().DataLinksPath)) {
        if (isDataLinkName(entry))
            ListBox1->addItem(entry);
    }
    for (int row = 0; row < ListBox1->count(); ++row) {
        if (ListBox1->item(row)->text().compare(name, Qt::CaseInsensitive) == 0) {
            ListBox1->setCurrentRow(row);
            return;
        }
    }
}

bool TfrmDataProviders::requireSelection() {
    if (!SelectedName().isEmpty())
        return true;
    NoticeMessage(kSelectFirst);
    ListBox1->setFocus();
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
    ListBox1->viewport()->update();
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
