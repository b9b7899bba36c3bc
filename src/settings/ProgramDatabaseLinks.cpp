#include "settings/ProgramDatabaseLinks.h"

#include "settings/Udataproviders.h"
#include "tools/KelvoMessages.h"
#include "tools/KelvoProgress.h"
#include "tools/KelvoSettings.h"

TDatabaseLinks ProgramDatabaseLinks() {
    TDatabaseLinks links;
    links.EndProgress = [] { EndProgress(true); };
    links.FindFiles = [](const QString& folder, const QString& pattern) {
        return FindFiles(folder, pattern);
    };
    links.ChooseDataProvider = [](const QString& settingKey, const QString& currentName) {
        return ChooseDataProvider(settingKey, currentName);
    };
    links.WriteSetting = [](const QString& section, const QString& key, const QString& value) {
        WriteSetting(section, key, value);
    };
    return links;
}
