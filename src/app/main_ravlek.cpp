#include "app/CommandLine.h"
#include "app/MainUnit.h"
#include "app/SessionEnd.h"
#include "app/SettingsJob.h"
#include "database/XrayDatabase.h"
#include "platform/QtDialogService.h"
#include "platform/WindowBus.h"
#include "settings/ProgramDatabaseLinks.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoPowerHandler.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgramOptions.h"

#include <QApplication>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ravlek [PNR=<patient>] [HWND=<window>] [OUTDIR=<folder>/] [DPI=<text>] [ZOOM=<text>]\n"
    "              [<data link>.udl] [NOLOGIN=1] [APPLICATIONHANDLE=<window>]\n"
    "       ravlek --settings | --help | --version\n"
    "\n"
    "Takes X-ray images from a Digora device for one patient and stores each one in the patient's\n"
    "folder <folder>/<patient>/, telling the journal program that started it. A journal program\n"
    "starts it; docs/host-protocol.md describes how.\n"
    "\n"
    "  PNR=<patient>               the patient number\n"
    "  HWND=<window>               the journal program's window on the window bus, told of each\n"
    "                              image (XRAY_NEW_IMAGE) and of the end (XRAY_TRANSFERRED)\n"
    "  OUTDIR=<folder>/            the practice's X-ray folder, ending in \"/\"\n"
    "  DPI=<text>, ZOOM=<text>     passed on to the image information\n"
    "  <data link>.udl             the data-link file that names the database: a path, or a name\n"
    "                              in the current folder, the program's folder or the data-link folder\n"
    "  NOLOGIN=1                   accepted for the journal program; changes nothing here\n"
    "  APPLICATIONHANDLE=<window>  the window on whose behalf the progress display is shown\n"
    "  --settings                  open the settings window alone, without a patient\n"
    "  --help                      show this text\n"
    "  --version                   show the version\n"
    "\n"
    "The keys are written in capitals; any argument that does not begin with \"--\" is no option.\n"
    "A copy that is already running is brought to the front instead.\n");

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> exitCode = HandleProgramOptions(
            argc, argv,
            {.program = QStringLiteral("ravlek"), .usage = kUsage, .ownOptions = {kSettingsSwitch}}))
        return *exitCode;
    const bool settingsJob = HasSettingsSwitch(argc, argv);
    // A copy already running is brought to the front, or, when it serves another patient,
    // warns its user; either way this start ends without a window.
    if (int exitCode = 0;
        !settingsJob && ActivatePreviousInstance(CommandLineArguments(argc, argv), &exitCode))
        return exitCode;

    QApplication app(argc, argv);
    platform::UseWidgetDialogs();
    // The title goes to the bus entry below, not to Qt's display name, which window
    // managers would append to the main window's own caption.

    // The taskbar finds our desktop entry, and with it our name and icon, by the entry's name
    // on Wayland and by the window class on X11, which Qt takes from the application name:
    // set here, it does not depend on the name the program was started by. The desktop
    // entries' StartupWMClass says the same.
    QGuiApplication::setDesktopFileName(QStringLiteral("se.kelvo.Ravlek"));
    QCoreApplication::setApplicationName(QStringLiteral("Ravlek"));

    // The tools library's power handling keeps the database connection across a suspend.
    TKelvoPowerHandler powerHandler(&app);
    if (settingsJob)
        return RunSettingsJob(QCoreApplication::arguments());

    // The application's own window identity, by which a later start finds this copy.
    platform::WindowDefinition applicationWindow;
    applicationWindow.className = kApplicationWindowClass;
    applicationWindow.title = kApplicationTitle;
    const std::unique_ptr<platform::WindowRegistration> applicationRegistration =
        platform::windowBus().registerWindow(applicationWindow);
    if (applicationRegistration)
        SetProgressApplicationWindow(applicationRegistration->handle());

    // The program's one database, used by every window and the device list; the
    // environment set up by the main window's creation tells it which data-link file to use.
    TXrayDatabase database(Environment(), ProgramDatabaseLinks());
    RegisterPowerConnection(database.Database1);
    RegisterSimulatedDriver();

    TRavlekMainForm mainForm(&database);
    mainForm.CreateSettingsWindow();
    // A logout, a shutdown or `kill` closes the window the way its Close button does.
    const std::unique_ptr<platform::TerminationWatch> termination = CloseOnTerminationRequest(mainForm);
    mainForm.show();
    return QApplication::exec();
}
