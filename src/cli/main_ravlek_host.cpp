#include "cli/StandInHost.h"
#include "tools/ProgramOptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ravlek-host [<argument for ravlek>...]\n"
    "       ravlek-host --help | --version\n"
    "\n"
    "Starts ravlek the way a journal program does, with \"HWND=\" and the handle of a window of its\n"
    "own followed by the arguments given (any argument, also an option, reaches ravlek unchanged),\n"
    "prints each message ravlek sends to that window as one line\n"
    "\"<message name> wParam=<n> lParam=<n>\", and ends with ravlek's exit code.\n"
    "\n"
    "Example: ravlek-host PNR=4711 OUTDIR=/srv/xray/\n"
    "\n"
    "RAVLEK_PROGRAM names another ravlek executable; by default the one beside ravlek-host is started.\n");

} // namespace

// ravlek-host [arguments for ravlek...]
// Starts ravlek for a patient the way the journal program does and prints the messages
// ravlek sends to it. RAVLEK_PROGRAM names another ravlek executable.
int main(int argc, char* argv[]) {
    // Options other than its own go to ravlek, which judges them.
    TProgramOptions options{QStringLiteral("ravlek-host"), kUsage};
    options.leadingOnly = true;
    options.passOtherOptions = true;
    if (const std::optional<int> exitCode = HandleProgramOptions(argc, argv, options))
        return *exitCode;

    QCoreApplication app(argc, argv);
    QString program = qEnvironmentVariable("RAVLEK_PROGRAM");
    if (program.isEmpty())
        program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ravlek"));

    QTextStream out(stdout);
    StandInHost host(program, app.arguments().mid(1), out);
    QObject::connect(&host, &StandInHost::finished, &app, [](int code) { QCoreApplication::exit(code); });
    QString error;
    if (!host.start(&error)) {
        QTextStream(stderr) << "ravlek-host: " << error << Qt::endl;
        return 2;
    }
    return app.exec();
}
