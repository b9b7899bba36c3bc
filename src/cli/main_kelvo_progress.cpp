// kelvo-progress: the suite's progress program (docs/host-protocol.md, "The progress program").

#include "cli/ProgressApp.h"
#include "tools/CEVersionInfo.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgramOptions.h"

#include <QApplication>
#include <QTextStream>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: kelvo-progress [CAPTION=<caption>] [STYLE=<style>] [STATUS=<status>] [CLIENTHWND=<window>]\n"
    "       kelvo-progress --help | --version\n"
    "\n"
    "The suite's progress display: a small always-on-top window with a caption, a status line and a\n"
    "running animation, shown while a client program of the suite does something slow. A client\n"
    "starts it and drives it with registered messages over the window bus: KELVO_SET_ACTIVE_TEMA,\n"
    "KELVO_SET_ACTIVE_CAPTION, KELVO_SET_ACTIVE_STATUS, KELVO_SET_ACTIVE_HWND,\n"
    "KELVO_ACTIVATE_PROGRESSAPP, KELVO_INACTIVATE_PROGRESSAPP and KELVO_HIDENOW_PROGRESSAPP\n"
    "(docs/host-protocol.md). It ends by itself when its clients' windows are gone.\n"
    "\n"
    "  CAPTION=<caption>     the caption the window starts with\n"
    "  STYLE=<style>         the client's visual style (a Qt style name such as Fusion)\n"
    "  STATUS=<status>       the status line the window starts with\n"
    "  CLIENTHWND=<window>   the client's window on the window bus\n"
    "  --help                show this text\n"
    "  --version             show the version\n"
    "\n"
    "KELVO_PROGRESS_LOG names a file to which each message received is appended as one line.\n");

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> exitCode =
            HandleProgramOptions(argc, argv, {QStringLiteral("kelvo-progress"), kUsage}))
        return *exitCode;

    QApplication app(argc, argv);
    const qint32 version = ProgressAppVersionOf(TCEVersionInfo().FileVersion);
    // Another copy already serves this desktop: the clients find that one.
    if (platform::windowBus().findWindow(ProgressAppWindowClass(version), QString()) != 0)
        return 0;

    TProgressApp progress(ParseProgressAppArguments(app.arguments().mid(1)), version);
    QString error;
    if (!progress.Register(&error)) {
        QTextStream(stderr) << "kelvo-progress: " << error << Qt::endl;
        return 1;
    }
    // exit(), not quit(): quit() would first ask the windows to close, and this one never does.
    QObject::connect(&progress, &TProgressApp::clientsGone, &app, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
