#include "app/MainUnit.h"
#include "database/XrayDatabase.h"
#include "platform/QtDialogService.h"
#include "platform/WindowBus.h"
#include "settings/ProgramDatabaseLinks.h"
#include "sim/SimulatedDsd.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoPowerHandler.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // A copy already running is brought to the front; this start ends without a window.
    if (ActivatePreviousInstance())
        return 0;

    QApplication app(argc, argv);
    platform::UseWidgetDialogs();
    // The title goes to the bus entry below, not to Qt's display name, which window
    // managers would append to the main window's own caption.

    // The application's own window identity, by which a later start finds this copy.
    platform::WindowDefinition applicationWindow;
    applicationWindow.className = kApplicationWindowClass;
    applicationWindow.title = kApplicationTitle;
    const std::unique_ptr<platform::WindowRegistration> applicationRegistration =
        platform::windowBus().registerWindow(applicationWindow);

    // The program's one database, used by every window and the device list; the
    // environment set up by the main window's creation tells it which data-link file to use.
    TXrayDatabase database(Environment(), ProgramDatabaseLinks());
    // The tools library's power handling keeps the database connection across a suspend.
    TKelvoPowerHandler powerHandler(&app);
    RegisterPowerConnection(database.Database1);
    RegisterSimulatedDriver();

    TRavlekMainForm mainForm(&database);
    mainForm.CreateSettingsWindow();
    mainForm.show();
    return QApplication::exec();
}
