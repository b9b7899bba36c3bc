#pragma once

// The in-process progress display, used when no progress program is found: a small window
// (TfrmProgress) with a caption, a status line and a running animation, and a background
// thread (TProgressThread) that keeps the animation running, counts the elapsed time in the
// caption and moves the taskbar progress, also while the GUI thread is blocked by the slow
// work the window announces. docs/progress.md explains how.

#include "platform/WindowBus.h"

#include <QLabel>
#include <QMutex>
#include <QPalette>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <QWidget>

#include <memory>

namespace platform {
class TaskbarProgress;
class WindowOverlay;
} // namespace platform
class TAnimate;
class TfrmProgress;
class TProgressThread;

// Shows the window (or gives the shown one new texts) and paints it before returning.
void ShowProgressWindow(const QString& caption, const QString& status);
// Ends the thread and destroys the window; restores the normal mouse cursor.
void HideProgressWindow();
// The window currently shown and its thread, or nullptr.
TfrmProgress* ProgressWindow();
TProgressThread* ProgressThread();

// The hourglass mouse cursor of the progress display, shown once however often it is asked
// for, and the normal cursor again.
void ShowHourglassCursor();
void RestoreNormalCursor();

// The in-process progress window: caption, a status line and the animation, always on top,
// centred, and it refuses to be closed by the user.
class TfrmProgress : public QWidget {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* parent = nullptr);

    void setTexts(const QString& caption, const QString& status);
    // The animation's place in the window's coordinates.
    QRect AnimationArea() const;

    // The designer's names are their object names.
    QLabel* StatusLabel = nullptr; // Label1: the status line
    QLabel* SpareLabel = nullptr;  // Label2: empty, below the status line
    TAnimate* Animation = nullptr; // Animate1: the copy animation

    // The elapsed-time caption: `caption` + " - " + seconds with one optional decimal + "s".
    static QString ElapsedCaption(const QString& caption, int milliseconds);

protected:
    void closeEvent(QCloseEvent* event) override;
};

// The background thread of the in-process window. It only sleeps, paints the animation into
// the window's overlay, moves the taskbar progress and sets the elapsed-time caption; it
// touches no widget. The fields are written before it starts and read by it only.
class TProgressThread : public QThread {
    Q_OBJECT
public:
    // Created on the GUI thread, not yet started. FTaskbarenabled says whether the taskbar
    // can be told.
    explicit TProgressThread(platform::TaskbarProgress& taskbar, QObject* parent = nullptr);
    // Asks the thread to end and waits for it.
    ~TProgressThread() override;

    // The window the thread works for, and the overlay it paints into (none where the window
    // system lets no other thread draw; the window's own animation then runs on the GUI thread).
    void SetWindow(TfrmProgress* form, std::unique_ptr<platform::WindowOverlay> overlay);
    // Asks the thread to end; it ends at once, from whatever it waits for.
    void RequestEnd();

    platform::WindowHandle FMasterFormHandle = 0; // the window whose taskbar entry shows the progress
    QString cap = QStringLiteral("Status");
    QString txt = QStringLiteral("Systemet arbetar, detta kan ta flera minuter...");
    bool FTaskbarenabled = false;

    bool HasOverlay() const { return m_overlay != nullptr; }
    // Milliseconds counted so far; read it after the thread has ended.
    int TimePassed() const { return timepassed; }

protected:
    void run() override;

private:
    bool animateFor(int milliseconds);
    bool sleepFor(int milliseconds);
    void paintFrame();
    void showCaption(const QString& caption);
    void clearTaskbarAfterFailure() noexcept;

    platform::TaskbarProgress& m_taskbar;
    TfrmProgress* FProgressform = nullptr;
    std::unique_ptr<platform::WindowOverlay> m_overlay;
    QPalette m_palette;
    QSizeF m_animationSize;
    int timepassed = 0;
    int progressbarnr = 0;
    int m_frame = 0;

    QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_endRequested = false;
};
