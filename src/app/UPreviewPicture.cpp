#include "app/UPreviewPicture.h"

#include "tools/DesignerNames.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kClientWidth = 580;
constexpr int kClientHeight = 362;
constexpr int kPanelHeight = 35;
constexpr int kButtonWidth = 130;
constexpr int kButtonHeight = 25;
constexpr int kButtonTop = 5;
constexpr int kSaveLeft = 24;
constexpr int kDiscardLeft = 424;

} // namespace

TPreviewImage::TPreviewImage(QWidget* parent)
    : QWidget(parent) {}

void TPreviewImage::SetPicture(const QImage& picture) {
    m_picture = picture;
    update();
}

QRect TPreviewImage::PictureRect() const {
    if (m_picture.isNull())
        return {};
    QSize size = m_picture.size();
    if (size.width() > width() || size.height() > height())
        size.scale(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void TPreviewImage::paintEvent(QPaintEvent* /*event*/) {
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PictureRect(), m_picture);
}

TfrmPreviewPicture::TfrmPreviewPicture(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
    , PictureView(new TPreviewImage(this))
    , ButtonPanel(new QWidget(this))
    , SaveButton(new QPushButton(QStringLiteral("Save picture"), ButtonPanel))
    , DiscardButton(new QPushButton(QStringLiteral("Discard picture"), ButtonPanel)) {
    setWindowTitle(QStringLiteral("Preview picture"));
    resize(kClientWidth, kClientHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PictureView, 1);
    layout->addWidget(ButtonPanel);
    ButtonPanel->setFixedHeight(kPanelHeight);

    SaveButton->setGeometry(kSaveLeft, kButtonTop, kButtonWidth, kButtonHeight);
    DiscardButton->setGeometry(kDiscardLeft, kButtonTop, kButtonWidth, kButtonHeight);
    SaveButton->setDefault(true);
    SaveButton->setAutoDefault(true);
    DiscardButton->setAutoDefault(false);
    KeepDesignerNames({{PictureView, "Image1"},
                       {ButtonPanel, "Panel1"},
                       {SaveButton, "BitBtn1"},
                       {DiscardButton, "BitBtn2"}});
    connect(SaveButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(DiscardButton, &QPushButton::clicked, this, &QDialog::reject);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TfrmPreviewPicture::LoadPicture(const QString& fileName, QString* error) {
    QImageReader reader(fileName, "BMP");
    QImage picture = reader.read();
    if (picture.isNull()) {
        *error = reader.errorString();
        PictureView->SetPicture({});
        return false;
    }
    PictureView->SetPicture(picture);
    return true;
}
