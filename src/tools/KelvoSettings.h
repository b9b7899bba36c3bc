#pragma once

// The settings store: named settings under "SOFTWARE\Kelvo\" + installation key + section,
// read from the user's hive first and written to both hives.

#include "platform/Registry.h"

#include <QString>

// Marker that ReadSetting returns for a setting that is missing or blank everywhere.
inline const QString kMissingSetting = QStringLiteral("ERROR");

QString ReadSetting(const QString& section, const QString& key);
QString ReadSettingDef(const QString& section, const QString& key, const QString& defaultValue);
void WriteSetting(const QString& section, const QString& key, const QString& value);

bool WriteRegString(platform::Hive hive, const QString& keyPath, const QString& valueName,
                    const QString& value);
QString ReadRegString(platform::Hive hive, const QString& keyPath, const QString& valueName);
quint32 ReadRegDWord(platform::Hive hive, const QString& keyPath, const QString& valueName);

// The system's text for the most recent refused key creation; empty until the first.
QString LastRegistryError();

// Truth value of a stored text: a decimal number ("1", "-1", "0.0", blanks around it
// allowed) is true unless it is 0; "True"/"False" in any letter case; any other text,
// the missing-value marker included, gives `defaultValue`.
bool SettingIsTrue(const QString& text, bool defaultValue);
