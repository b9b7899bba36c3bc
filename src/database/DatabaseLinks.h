#pragma once

// What the database layer needs of the program around it, and how it shows its messages.
// The layer opens no window itself: the program gives it the progress display, the file
// search, the data-provider chooser and the settings store as links (ProgramDatabaseLinks
// in settings/), and its messages go through the dialog port.

#include "platform/DialogService.h"

#include <QString>
#include <QStringList>

#include <functional>

struct TDatabaseLinks {
    // Takes the progress display down, so that a message never hides behind it.
    std::function<void()> EndProgress;
    // The files of `folder` and its subfolders whose names match `pattern` ("*.udl").
    std::function<QStringList(const QString& folder, const QString& pattern)> FindFiles;
    // Asks the user for a data-link file of the data-link folder, for the setting
    // `settingKey`; answers its name without folder, or `currentName` when the user cancels.
    std::function<QString(const QString& settingKey, const QString& currentName)> ChooseDataProvider;
    // Stores a setting: section, key, value.
    std::function<void(const QString&, const QString&, const QString&)> WriteSetting;
};

// Shows one of the layer's messages: the progress display comes down first, and the
// database's report of a lost update is replaced by advice for the user.
void DatabaseMessage(const TDatabaseLinks& links, platform::DialogKind kind, const QString& text);

// Replaces the database driver's lost-update report in `text` by advice for the user;
// returns whether a report was replaced.
bool ReplaceLostUpdateReport(QString& text);
