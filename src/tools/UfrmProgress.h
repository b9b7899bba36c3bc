#pragma once

// The progress display shown while the program does something slow: a small window of the
// program's own (TfrmProgress) with a caption and a status line. The maker's separate
// progress program is not used on Linux, so StartProgress with `onlyIfKnown` does nothing.

#include <QLabel>
#include <QString>
#include <QTimer>
#include <QWidget>

void StartProgress(const QString& caption, const QString& status, bool onlyIfKnown = false);
void EndProgress(bool force);

// The in-process display that StartProgress and EndProgress use. It appears only in a
// program with a widget application.
void ShowProgressWindow(const QString& caption, const QString& status);
void HideProgressWindow();

// Forgets where the separate progress program was found, so that the next display looks
// for it again; the environment set-up calls it.
void ForgetProgressAppPath();

// The window currently shown by ShowProgressWindow, or nullptr.
class TfrmProgress;
TfrmProgress* ProgressWindow();

// The in-process progress window: caption, a status line, always on top, centred, and it
// refuses to be closed by the user. After one second its caption starts counting the time
// ("Status - 1,2s"), in steps of 200 ms, from the caption it was first shown with.
class TfrmProgress : public QWidget {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget* parent = nullptr);

    void setTexts(const QString& caption, const QString& status);
    // Starts counting the time behind `caption`.
    void startClock(const QString& caption);

    QLabel* Label1 = nullptr; // the status line
    QLabel* Label2 = nullptr;

    // The elapsed-time caption: `caption` + " - " + seconds with one optional decimal + "s".
    static QString ElapsedCaption(const QString& caption, int milliseconds);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void tick();

    QTimer m_clock;
    QString m_cap;
    int m_timePassed = 0;
};
