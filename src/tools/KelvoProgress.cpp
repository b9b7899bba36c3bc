#include "tools/KelvoProgress.h"

#include "platform/Paths.h"
#include "platform/Processes.h"
#include "tools/CEVersionInfo.h"
#include "tools/KelvoEnvironment.h"
#include "tools/UfrmProgress.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStyle>
#include <QThread>

namespace {

// How often a launch looks whether the new program's window has appeared.
constexpr int kReadyPollMs = 10;

struct ProgressState {
    QString appPath;                         // ProgressAppPath
    qint32 appVersion = 0;                   // ProgressAppVersion
    platform::WindowHandle clientWindow = 0; // ProgressClientWindow
    qint32 activations = 0;                  // ProgressActivations
    bool inStartProgress = false;
    // StartProgressAppTimer: a deadline rather than an event-loop timer, so that a busy GUI
    // thread cannot keep it running beyond its two seconds.
    QDeadlineTimer startProgressAppTimer{0};
    platform::WindowHandle applicationWindow = 0;
    platform::WindowHandle mainWindow = 0;
};

ProgressState& state() {
    static ProgressState progress;
    return progress;
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QString withTrailingDelimiter(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// The suite's data folder first, then the folder of this program's own file; the first
// candidate when neither holds the program. The current directory is not searched: a program
// found there could be anybody's.
QString findProgressApp() {
    QStringList candidates;
    if (!Environment().SuiteDataPath.isEmpty())
        candidates.append(Environment().SuiteDataPath + kProgressAppFileName);
    candidates.append(withTrailingDelimiter(platform::paths().executableDirectory()) + kProgressAppFileName);
    for (const QString& candidate : candidates) {
        if (fileExists(candidate))
            return candidate;
    }
    return candidates.first();
}

platform::WindowHandle findProgressAppWindow() {
    return platform::windowBus().findWindow(ProgressAppWindowClass(state().appVersion), QString());
}

QString activeStyleName() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return {};
    return QApplication::style()->name();
}

quint32 message(const QString& name) {
    return platform::windowBus().registerWindowMessage(name);
}

// Sends a text in a global atom that lives only for the send; a text for which no atom can be
// made is not sent.
void sendText(platform::WindowHandle window, const QString& name, const QString& text) {
    platform::WindowBus& bus = platform::windowBus();
    const quint32 atom = bus.globalAddAtom(text);
    if (atom == 0)
        return;
    bus.sendMessageTimeout(window, message(name), 0, atom, kProgressMessageTimeoutMs);
    bus.globalDeleteAtom(atom);
}

// Starts the progress program in a session of its own, with nothing of ours but the environment
// and the current directory: no input, and its output does not mix with ours. Waits until its
// window is on the bus, it has ended, or kProgressAppReadyWaitMs have passed. False when it could
// not be started.
bool launchProgressApp(const QString& caption, const QString& status) {
    ProgressState& progress = state();
    QProcess process;
    process.setProgram(progress.appPath);
    process.setArguments({kProgressCaptionKey + caption, kProgressStyleKey + activeStyleName(),
                          kProgressStatusKey + status,
                          kProgressClientKey + QString::number(progress.clientWindow)});
    process.setWorkingDirectory(QDir::currentPath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    const QDeadlineTimer deadline(kProgressAppReadyWaitMs);
    while (!deadline.hasExpired() && findProgressAppWindow() == 0 && platform::processRunning(pid))
        QThread::msleep(kReadyPollMs);
    return true;
}

void determineClientWindow() {
    ProgressState& progress = state();
    if (progress.clientWindow != 0)
        return;
    const QStringList arguments =
        QCoreApplication::instance() ? QCoreApplication::arguments() : QStringList();
    progress.clientWindow = ApplicationHandleArgument(arguments);
    if (progress.clientWindow == 0)
        progress.clientWindow = progress.mainWindow != 0 ? progress.mainWindow : progress.applicationWindow;
}

// Shows the texts in the progress program's window and counts the activation.
void activateProgressApp(platform::WindowHandle window, const QString& caption, const QString& status) {
    ProgressState& progress = state();
    platform::WindowBus& bus = platform::windowBus();
    sendText(window, kMsgSetActiveTema, activeStyleName());
    sendText(window, kMsgSetActiveCaption, caption);
    sendText(window, kMsgSetActiveStatus, status);
    bus.sendMessageTimeout(window, message(kMsgSetActiveHwnd), progress.clientWindow, 0,
                           kProgressMessageTimeoutMs);
    ++progress.activations;
    bus.sendMessageTimeout(window, message(kMsgActivateProgressApp), progress.applicationWindow, 0,
                           kProgressMessageTimeoutMs);
}

// StartProgress's road through the progress program, once it has been found.
void startWithProgressApp(const QString& caption, const QString& status) {
    ProgressState& progress = state();
    ReadProgressAppVersion(false);
    platform::WindowHandle window = findProgressAppWindow();
    if (StartProgressAppTimerEnabled())
        return; // a launch is under way; its window shows itself
    if (window == 0) {
        progress.startProgressAppTimer.setRemainingTime(kStartProgressAppTimerMs);
        if (!launchProgressApp(caption, status)) {
            // The program is there but will not start: the user still sees that we are busy.
            ShowProgressWindow(caption, status);
            return;
        }
        window = findProgressAppWindow();
        if (window == 0) {
            ShowProgressWindow(caption, status);
            return;
        }
    }
    activateProgressApp(window, caption, status);
}

} // namespace

void StartProgress(const QString& caption, const QString& status, bool onlyIfKnown) {
    ProgressState& progress = state();
    if (progress.inStartProgress)
        return;
    // With nothing to show there is no hourglass either: nothing would take it away.
    if (onlyIfKnown && !fileExists(progress.appPath))
        return;
    progress.inStartProgress = true;
    ShowHourglassCursor();
    if (!fileExists(progress.appPath))
        progress.appPath = findProgressApp();
    determineClientWindow();
    if (fileExists(progress.appPath))
        startWithProgressApp(caption, status);
    else
        ShowProgressWindow(caption, status);
    progress.inStartProgress = false;
}

void EndProgress(bool force) {
    ProgressState& progress = state();
    const platform::WindowHandle window = findProgressAppWindow();
    if (window != 0) {
        progress.activations = qMax(0, progress.activations - 1);
        platform::WindowBus& bus = platform::windowBus();
        // Without time-out: the display must be down before whatever comes next is shown.
        bus.sendMessage(window, message(kMsgInactivateProgressApp), progress.applicationWindow, 0);
        if (force || progress.activations == 0)
            bus.sendMessage(window, message(kMsgHideNowProgressApp), progress.applicationWindow, 0);
    }
    HideProgressWindow();
}

void ReadProgressAppVersion(bool force) {
    ProgressState& progress = state();
    if ((!force && progress.appVersion != 0) || !fileExists(progress.appPath))
        return;
    TCEVersionInfo info;
    info.GetInfo(progress.appPath);
    progress.appVersion = ProgressAppVersionOf(info.FileVersion);
}

void ForgetProgressAppPath() {
    state().appPath.clear();
}

QString ProgressAppPath() {
    return state().appPath;
}

qint32 ProgressAppVersion() {
    return state().appVersion;
}

qint32 ProgressActivations() {
    return state().activations;
}

platform::WindowHandle ProgressClientWindow() {
    determineClientWindow();
    return state().clientWindow;
}

bool StartProgressAppTimerEnabled() {
    return !state().startProgressAppTimer.hasExpired();
}

void SetProgressApplicationWindow(platform::WindowHandle application) {
    state().applicationWindow = application;
}

void SetProgressMainWindow(platform::WindowHandle mainWindow) {
    state().mainWindow = mainWindow;
}

qint32 ProgressAppVersionOf(const QString& fileVersion) {
    QString digits = fileVersion;
    digits.remove(QLatin1Char('.'));
    bool ok = false;
    const qint32 version = digits.toInt(&ok);
    return ok ? version : 0;
}

QString ProgressAppWindowClass(qint32 version) {
    return version >= kProgressAppMessageWindowVersion ? kProgressAppMessageWindowClass
                                                       : kProgressAppMainFormClass;
}

platform::WindowHandle ApplicationHandleArgument(const QStringList& arguments) {
    platform::WindowHandle handle = 0;
    for (const QString& argument : arguments) {
        if (!argument.startsWith(kApplicationHandleKey, Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const platform::WindowHandle value = argument.mid(kApplicationHandleKey.size()).toInt(&ok);
        handle = ok && value > 0 ? value : 0;
    }
    return handle;
}

void ResetProgressState() {
    HideProgressWindow();
    state() = ProgressState{};
}
