#include "app/MainUnit.h"
#include "platform/WindowBus.h"
#include "settings/USettings.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoPowerHandler.h"
#include "tools/KelvoProgress.h"
#include "tools/ProgramOptions.h"

#include <QApplication>

namespace {

const QString kUsage = QStringLiteral(
    "Usage: ravlek [PNR=<patient>] [HWND=<window>] [OUTDIR=<folder>/] [DPI=<text>] [ZOOM=<text>]\n"
    "              [<data link>.udl] [NOLOGIN=1] [APPLICATIONHANDLE=<window>]\n"
    "       ravlek --help | --version\n"
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
    "  --help                      show this text\n"
    "  --version                   show the version\n"
    "\n"
    "The keys are written in capitals; any argument that does not begin with \"--\" is no option.\n"
    "A copy that is already running is brought to the front instead.\n");

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> exitCode =
            HandleProgramOptions(argc, argv, {QStringLiteral("ravlek"), kUsage}))
        return *exitCode;
    // A copy already running is brought to the front; this start ends without a window.
    if (ActivatePreviousInstance())
        return 0;

    QApplication app(argc, argv);
    // The title goes to the bus entry below, not to Qt's display name, which window
    // managers would append to the main window's own caption.

    // The application's own window identity, by which a later start finds this copy.
    platform::WindowDefinition applicationWindow;
    applicationWindow.className = kApplicationWindowClass;
    applicationWindow.title = kApplicationTitle;
    const std::unique_ptr<platform::WindowRegistration> applicationRegistration =
        platform::windowBus().registerWindow(applicationWindow);
    if (applicationRegistration)
        SetProgressApplicationWindow(applicationRegistration->handle());

    // The tools library's power handling keeps the database connection across a suspend.
    TfrmKelvoTools kelvoTools(&app);
    RegisterSimulatedDriver();

    TRavlekMainForm mainForm;
    mainForm.CreateSettingsWindow();
    mainForm.show();
    return QApplication::exec();
}
