#include "app/CommandLine.h"
#include "app/MainUnit.h"
#include "app/SessionEnd.h"
#include "app/SettingsJob.h"
#include "platform/WindowBus.h"
#include "settings/USettings.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoPowerHandler.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const bool settingsJob = HasSettingsSwitch(argc, argv);
    // A copy already running is brought to the front, or, when it serves another patient,
    // warns its user; either way this start ends without a window.
    if (int exitCode = 0;
        !settingsJob && ActivatePreviousInstance(CommandLineArguments(argc, argv), &exitCode))
        return exitCode;

    QApplication app(argc, argv);
    // The title goes to the bus entry below, not to Qt's display name, which window
    // managers would append to the main window's own caption.

    // The taskbar finds our desktop entry, and with it our name and icon, by the entry's name
    // on Wayland and by the window class on X11, which Qt takes from the application name:
    // set here, it does not depend on the name the program was started by. The desktop
    // entries' StartupWMClass says the same.
    QGuiApplication::setDesktopFileName(QStringLiteral("se.kelvo.Ravlek"));
    QCoreApplication::setApplicationName(QStringLiteral("Ravlek"));

    // The tools library's power handling keeps the database connection across a suspend.
    TfrmKelvoTools kelvoTools(&app);
    if (settingsJob)
        return RunSettingsJob();

    // The application's own window identity, by which a later start finds this copy.
    platform::WindowDefinition applicationWindow;
    applicationWindow.className = kApplicationWindowClass;
    applicationWindow.title = kApplicationTitle;
    const std::unique_ptr<platform::WindowRegistration> applicationRegistration =
        platform::windowBus().registerWindow(applicationWindow);

    RegisterSimulatedDriver();

    TRavlekMainForm mainForm;
    mainForm.CreateSettingsWindow();
    // A logout, a shutdown or `kill` closes the window the way its Close button does.
    const std::unique_ptr<platform::TerminationWatch> termination = CloseOnTerminationRequest(mainForm);
    mainForm.show();
    return QApplication::exec();
}
