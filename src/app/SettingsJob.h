#pragma once

// "ravlek --settings": the settings window as the program's only job, for the menu entry
// that opens it without the journal program (docs/user-guide.md).

#include <QString>
#include <QStringList>

// The switch that asks for the settings window alone.
inline const QString kSettingsSwitch = QStringLiteral("--settings");

// True when the command line holds the switch; read before the application exists, since a
// settings window alone neither looks for a running copy nor becomes one.
bool HasSettingsSwitch(int argc, char** argv);

// Shows the settings window, connected to the practice database, without a patient, a main
// window or a device, until the user closes it; returns the process's exit code. It does not
// register on the window bus, so a start from the journal program meanwhile runs as usual.
// `arguments` is the command line, the program's name first.
int RunSettingsJob(const QStringList& arguments);
