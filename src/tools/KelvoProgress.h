#pragma once

// The progress display shown while the program does something slow: the suite's progress
// program (kelvo-progress) when it is installed, driven by registered messages over the window
// bus, else the program's own window (UfrmProgress). docs/progress.md describes the client's
// steps, docs/host-protocol.md the messages.

#include "platform/WindowBus.h"

#include <QString>
#include <QStringList>

// The progress program's file name, looked for in the suite's data folder, then in the folder
// of the running program.
inline const QString kProgressAppFileName = QStringLiteral("kelvo-progress");

// Its window classes: from version 4106 on it receives the messages in a message window,
// before that in its main form.
inline const QString kProgressAppMessageWindowClass = QStringLiteral("TProgressAppMessageWindow");
inline const QString kProgressAppMainFormClass = QStringLiteral("TProgressAppMainForm");
inline constexpr qint32 kProgressAppMessageWindowVersion = 4106;

// The registered messages of the progress program.
inline const QString kMsgSetActiveTema = QStringLiteral("KELVO_SET_ACTIVE_TEMA");
inline const QString kMsgSetActiveCaption = QStringLiteral("KELVO_SET_ACTIVE_CAPTION");
inline const QString kMsgSetActiveStatus = QStringLiteral("KELVO_SET_ACTIVE_STATUS");
inline const QString kMsgSetActiveHwnd = QStringLiteral("KELVO_SET_ACTIVE_HWND");
inline const QString kMsgActivateProgressApp = QStringLiteral("KELVO_ACTIVATE_PROGRESSAPP");
inline const QString kMsgInactivateProgressApp = QStringLiteral("KELVO_INACTIVATE_PROGRESSAPP");
inline const QString kMsgHideNowProgressApp = QStringLiteral("KELVO_HIDENOW_PROGRESSAPP");

// The keys of the progress program's command line.
inline const QString kProgressCaptionKey = QStringLiteral("CAPTION=");
inline const QString kProgressStyleKey = QStringLiteral("STYLE=");
inline const QString kProgressStatusKey = QStringLiteral("STATUS=");
inline const QString kProgressClientKey = QStringLiteral("CLIENTHWND=");

// The command-line key of this program that names the window on whose behalf progress is shown.
inline const QString kApplicationHandleKey = QStringLiteral("APPLICATIONHANDLE=");

// Time-out of each message that shows the progress program.
inline constexpr int kProgressMessageTimeoutMs = 100;
// A launch of the progress program is under way for this long (StartProgressAppTimer).
inline constexpr int kStartProgressAppTimerMs = 2000;
// How long a launch waits for the new program's window, unless the program ends first.
inline constexpr int kProgressAppReadyWaitMs = 5000;

// Shows or updates the progress display. With `onlyIfKnown` it does nothing unless the
// progress program has already been found.
void StartProgress(const QString& caption, const QString& status, bool onlyIfKnown = false);
// Takes the display down; with `force` also when the progress program has been activated more
// often than released.
void EndProgress(bool force);
// Fills ProgressAppVersion from the progress program's file when `force` or when it is 0.
void ReadProgressAppVersion(bool force);
// Forgets where the progress program was found, so that the next display looks for it again;
// the environment set-up calls it.
void ForgetProgressAppPath();

// The process-wide progress values.
QString ProgressAppPath();
qint32 ProgressAppVersion();
qint32 ProgressActivations();
// The window on whose behalf progress is shown, determined at its first use and then kept: the
// APPLICATIONHANDLE= argument, else the main window, else the application's own window.
platform::WindowHandle ProgressClientWindow();
// Whether a launch of the progress program is under way (the 2-second StartProgressAppTimer).
bool StartProgressAppTimerEnabled();

// The program's own windows on the bus, which the progress display names to the progress program.
void SetProgressApplicationWindow(platform::WindowHandle application);
void SetProgressMainWindow(platform::WindowHandle mainWindow);

// The version number of a file version: its digits without the dots ("4.1.0.6" gives 4106),
// 0 when that is no number.
qint32 ProgressAppVersionOf(const QString& fileVersion);
// The progress program's window class for its version.
QString ProgressAppWindowClass(qint32 version);
// The window named by the last argument that begins with APPLICATIONHANDLE= (any letter case);
// 0 when there is none or its value is no number.
platform::WindowHandle ApplicationHandleArgument(const QStringList& arguments);

// Restores the values to those of a program that has just started: tests begin from there.
void ResetProgressState();
