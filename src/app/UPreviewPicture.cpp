#include "app/UPreviewPicture.h"

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
    , Image1(new TPreviewImage(this))
    , Panel1(new QWidget(this))
    , BitBtn1(new QPushButton(QStringLiteral("Save picture"), Panel1))
    , BitBtn2(new QPushButton(QStringLiteral("Discard picture"), Panel1)) {
    setWindowTitle(QStringLiteral("Preview picture"));
    resize(kClientWidth, kClientHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Image1, 1);
    layout->addWidget(Panel1);
    Panel1->setFixedHeight(kPanelHeight);

    BitBtn1->setGeometry(kSaveLeft, kButtonTop, kButtonWidth, kButtonHeight);
    BitBtn2->setGeometry(kDiscardLeft, kButtonTop, kButtonWidth, kButtonHeight);
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(false);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TfrmPreviewPicture::LoadPicture(const QString& fileName, QString* error) {
    QImageReader reader(fileName, "BMP");
    QImage picture = reader.read();
    if (picture.isNull()) {
        *error = reader.errorString();
        Image1->SetPicture({});
        return false;
    }
    Image1->SetPicture(picture);
    return true;
}
