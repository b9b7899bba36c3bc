#include "tools/ElidedText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <algorithm>

QString ElidedLines(const QString& text, const QFontMetrics& metrics, int width, Qt::TextElideMode mode) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = metrics.elidedText(line, mode, width);
    return lines.join(QLatin1Char('\n'));
}

QString ElisionToolTip(const QString& whole, const QString& shown) {
    return shown == whole ? QString() : whole;
}

TElidedLabel::TElidedLabel(Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent)
    , m_mode(mode) {}

void TElidedLabel::setText(const QString& text) {
    QLabel::setText(text);
    updateToolTip();
}

QString TElidedLabel::ShownText() const {
    return ElidedLines(text(), fontMetrics(), contentsRect().width(), m_mode);
}

QSize TElidedLabel::minimumSizeHint() const {
    const QSize whole = QLabel::minimumSizeHint();
    return {std::min(whole.width(), fontMetrics().horizontalAdvance(QStringLiteral("…"))), whole.height()};
}

void TElidedLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), ShownText(), foregroundRole());
}

void TElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void TElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateToolTip();
}

void TElidedLabel::updateToolTip() {
    setToolTip(ElisionToolTip(text(), ShownText()));
}
