#include "tools/ProgressAnimation.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

const QColor kFolderBack(0xd9, 0xa4, 0x2b);
const QColor kFolderFront(0xf2, 0xc9, 0x4c);
const QColor kSheet(0xff, 0xff, 0xff);
const QColor kSheetLines(0x9a, 0xa8, 0xb8);

void paintFolder(QPainter& painter, const QRectF& box, const QColor& outline) {
    QPainterPath back;
    back.moveTo(box.left(), box.top() + box.height() * 0.15);
    back.lineTo(box.left() + box.width() * 0.4, box.top() + box.height() * 0.15);
    back.lineTo(box.left() + box.width() * 0.5, box.top());
    back.lineTo(box.right(), box.top());
    back.lineTo(box.right(), box.bottom());
    back.lineTo(box.left(), box.bottom());
    back.closeSubpath();
    painter.setPen(QPen(outline, 1));
    painter.setBrush(kFolderBack);
    painter.drawPath(back);
    painter.setBrush(kFolderFront);
    painter.drawRect(QRectF(box.left(), box.top() + box.height() * 0.3, box.width(), box.height() * 0.7));
}

void paintSheet(QPainter& painter, const QPointF& centre, qreal height, qreal angle, const QColor& outline) {
    painter.save();
    painter.translate(centre);
    painter.rotate(angle);
    const QRectF sheet(-height * 0.38, -height / 2, height * 0.76, height);
    painter.setPen(QPen(outline, 1));
    painter.setBrush(kSheet);
    painter.drawRect(sheet);
    painter.setPen(QPen(kSheetLines, 1));
    for (int line = 1; line <= 4; ++line) {
        const qreal y = sheet.top() + sheet.height() * line / 5.0;
        painter.drawLine(QPointF(sheet.left() + 2, y), QPointF(sheet.right() - 2, y));
    }
    painter.restore();
}

} // namespace

void PaintCopyAnimationFrame(QPainter& painter, const QRectF& area, int frame, const QPalette& palette) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, palette.color(QPalette::Window));
    const QColor outline = palette.color(QPalette::WindowText);
    const qreal folderHeight = area.height() * 0.5;
    const qreal folderWidth = folderHeight * 1.3;
    const qreal margin = area.width() * 0.1;
    const QRectF from(area.left() + margin, area.bottom() - folderHeight - 2, folderWidth, folderHeight);
    const QRectF to(area.right() - margin - folderWidth, from.top(), folderWidth, folderHeight);
    paintFolder(painter, from, outline);
    paintFolder(painter, to, outline);

    // The sheet rises out of the first folder, flies in an arc and drops into the second.
    const int step = ((frame % kCopyAnimationFrames) + kCopyAnimationFrames) % kCopyAnimationFrames;
    const qreal t = qreal(step) / (kCopyAnimationFrames - 1);
    const qreal x = from.center().x() + (to.center().x() - from.center().x()) * t;
    const qreal lift = std::sin(t * M_PI) * (area.height() * 0.55);
    const qreal sheetHeight = folderHeight * 0.8;
    const QPointF centre(x, from.top() + sheetHeight * 0.2 - lift);
    paintSheet(painter, centre, sheetHeight, -20 + 40 * t, outline);
    painter.restore();
}

TAnimate::TAnimate(QWidget* parent)
    : QWidget(parent) {
    m_timer.setInterval(kCopyAnimationFrameMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kCopyAnimationFrames;
        update();
    });
}

void TAnimate::Play() {
    m_timer.start();
}

void TAnimate::Stop() {
    m_timer.stop();
}

void TAnimate::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintCopyAnimationFrame(painter, rect(), m_frame, palette());
}
