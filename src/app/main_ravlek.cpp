#include "app/CommandLine.h"
#include "app/MainUnit.h"
#include "app/SessionEnd.h"
#include "platform/WindowBus.h"
#include "settings/USettings.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoPowerHandler.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // A copy already running is brought to the front, or, when it serves another patient,
    // warns its user; either way this start ends without a window.
    if (int exitCode = 0; ActivatePreviousInstance(CommandLineArguments(argc, argv), &exitCode))
        return exitCode;

    QApplication app(argc, argv);
    // The title goes to the bus entry below, not to Qt's display name, which window
    // managers would append to the main window's own caption.

    // The application's own window identity, by which a later start finds this copy.
    platform::WindowDefinition applicationWindow;
    applicationWindow.className = kApplicationWindowClass;
    applicationWindow.title = kApplicationTitle;
    const std::unique_ptr<platform::WindowRegistration> applicationRegistration =
        platform::windowBus().registerWindow(applicationWindow);

    // The tools library's power handling keeps the database connection across a suspend.
    TfrmKelvoTools kelvoTools(&app);
    RegisterSimulatedDriver();

    TRavlekMainForm mainForm;
    mainForm.CreateSettingsWindow();
    // A logout, a shutdown or `kill` closes the window the way its Close button does.
    const std::unique_ptr<platform::TerminationWatch> termination = CloseOnTerminationRequest(mainForm);
    mainForm.show();
    return QApplication::exec();
}
