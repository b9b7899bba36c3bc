#pragma once

// The running animation of the progress displays: a sheet of paper flying from one folder to
// another, like the system's file-copy animation that the progress window shows.

#include <QPalette>
#include <QTimer>
#include <QWidget>

class QPainter;

inline constexpr int kCopyAnimationFrames = 15;
inline constexpr int kCopyAnimationFrameMs = 100;

// Paints frame `frame` (any number; the animation repeats) over the whole of `area`, its
// background included. Safe on any thread when it paints onto a QImage.
void PaintCopyAnimationFrame(QPainter& painter, const QRectF& area, int frame, const QPalette& palette);

// The animation as a control (the progress window's `Animation`, object name `Animate1`), driven by a timer
// of the GUI thread.
class TAnimate : public QWidget {
    Q_OBJECT
public:
    explicit TAnimate(QWidget* parent = nullptr);

    void Play();
    void Stop();
    bool Active() const { return m_timer.isActive(); }
    int Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
};
