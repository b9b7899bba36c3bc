#pragma once

// Texts that may be longer than their control is wide: the control shows them cut short with
// "…" and gives the whole text as its tooltip, so that nothing is drawn over its neighbours.

#include <QLabel>
#include <QString>

class QFontMetrics;

// Each line of `text` (lines end at "\n") cut to `width` pixels with `mode`.
QString ElidedLines(const QString& text, const QFontMetrics& metrics, int width, Qt::TextElideMode mode);

// The tooltip of a control that shows `shown` for `whole`: the whole text while it is cut
// short, none otherwise.
QString ElisionToolTip(const QString& whole, const QString& shown);

// A label that shows its text cut to its width. text() stays the whole text.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    TElidedLabel(Qt::TextElideMode mode, QWidget* parent);

    // Replaces QLabel::setText, so that the tooltip follows the text.
    void setText(const QString& text);
    // The text as the label shows it now.
    QString ShownText() const;
    // As narrow as "…": a long text never widens a layout the label is in.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateToolTip();

    Qt::TextElideMode m_mode;
};
