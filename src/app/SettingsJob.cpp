#include "app/SettingsJob.h"

#include "settings/USettings.h"

bool HasSettingsSwitch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (QString::fromLocal8Bit(argv[i]) == kSettingsSwitch)
            return true;
    return false;
}

int RunSettingsJob() {
    // No main window: nothing to arm, no grab button, no preview box to keep in step.
    TfrmSettings settings{TSettingsLinks{}};
    // Connected before it shows, as the main window's start connects it; a failure has been
    // reported, and the window's "Connect" lets the user try again.
    settings.ConnectToDatabase();
    settings.exec();
    return 0;
}
