#include "app/SettingsJob.h"

#include "database/XrayDatabase.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USettings.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoPowerHandler.h"

bool HasSettingsSwitch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (QString::fromLocal8Bit(argv[i]) == kSettingsSwitch)
            return true;
    return false;
}

int RunSettingsJob(const QStringList& arguments) {
    // The environment names the data-link file, as the main window's creation does for a start
    // with a patient (a data-link file on the command line counts here too).
    try {
        InitApplicationEnvironment(arguments);
    } catch (const std::exception& failure) {
        ShowUnhandledFailure(failure);
    }
    TXrayDatabase database(Environment(), ProgramDatabaseLinks());
    RegisterPowerConnection(database.Database1);
    // No main window: nothing to arm, no grab button, no preview box to keep in step.
    TfrmSettings settings{database, TSettingsLinks{}};
    // Connected before it shows, as the main window's start connects it; a failure has been
    // reported, and the window's "Connect" lets the user try again.
    settings.ConnectToDatabase();
    settings.exec();
    return 0;
}
