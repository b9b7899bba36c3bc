#include "tools/KelvoSettings.h"

#include "tools/KelvoEnvironment.h"
#include "tools/KelvoMessages.h"

#include <cmath>

using platform::Hive;
using platform::RegValue;

namespace {

// The longest text (in UTF-16 units) a read hands back; a longer value reads as missing.
constexpr qsizetype kMaxText = 1024;

const QString kSettingsRoot = QStringLiteral("SOFTWARE\\Kelvo\\");
const QString kMarkerKey = QStringLiteral("SOFTWARE\\Kelvo\\ERROR_WRITING_TO_LOCAL_MACHINE");
const QString kMarkerValue = QStringLiteral("ErrorMsg");

QString& lastRegistryError() {
    static QString text;
    return text;
}

bool isBlank(const QString& text) {
    return text.trimmed().isEmpty();
}

// Whatever is stored is taken as UTF-16 text, as the registry hands over a value's bytes
// whatever its type: a dword's four bytes are two UTF-16 units, low half first. A value
// longer than the buffer of 1024 characters and a NUL reads as missing.
std::optional<QString> storedText(const RegValue& value) {
    if (value.data.size() > (kMaxText + 1) * 2)
        return std::nullopt;
    return value.text();
}

// A damaged user hive is moved aside the first time the store meets it, so that settings can
// be stored again, and the user is told once which file keeps the old ones.
void keepDamagedUserHiveAside() {
    const std::optional<platform::DamagedHive> damaged =
        platform::registry().keepDamagedHiveAside(Hive::CurrentUser);
    static QString told;
    if (!damaged || damaged->damage == told)
        return;
    told = damaged->damage;
    const QString fate = damaged->keptAs.isEmpty()
                             ? QStringLiteral("Filen kunde inte flyttas undan: %1").arg(damaged->error)
                             : QStringLiteral("Den skadade filen har sparats som\r%1").arg(damaged->keptAs);
    ErrorMessage(QStringLiteral("Dina inställningar kunde inte läsas:\r%1\r\r%2\r\rProgrammet använder "
                                "datorns gemensamma inställningar tills du sparar nya.")
                     .arg(damaged->damage, fate));
}

QString firstFound(const QString& section, const QString& key) {
    const TApplicationEnvironment& env = Environment();
    const std::pair<Hive, QString> places[] = {
        {Hive::CurrentUser, env.UserKey},
        {Hive::CurrentUser, env.ApplicationKey},
        {Hive::LocalMachine, env.ApplicationKey},
    };
    for (const auto& [hive, installationKey] : places) {
        const QString text = ReadRegString(hive, kSettingsRoot + installationKey + section, key);
        if (!isBlank(text))
            return text;
    }
    return {};
}

} // namespace

QString ReadSetting(const QString& section, const QString& key) {
    return ReadSettingDef(section, key, kMissingSetting);
}

QString ReadSettingDef(const QString& section, const QString& key, const QString& defaultValue) {
    const QString text = firstFound(section, key);
    return text.isEmpty() ? defaultValue : text;
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
    const TApplicationEnvironment& env = Environment();
    WriteRegString(Hive::CurrentUser, kSettingsRoot + env.UserKey + section, key, value);
    const bool user =
        WriteRegString(Hive::CurrentUser, kSettingsRoot + env.ApplicationKey + section, key, value);
    const bool machine =
        WriteRegString(Hive::LocalMachine, kSettingsRoot + env.ApplicationKey + section, key, value);
    // A user who may not write the machine-wide hive still has the setting in the user's
    // hive; the reason for the refusal is left where someone can find it.
    if (!machine && user)
        WriteRegString(Hive::CurrentUser, kMarkerKey, kMarkerValue, LastRegistryError());
}

bool WriteRegString(Hive hive, const QString& keyPath, const QString& valueName, const QString& value) {
    if (hive == Hive::CurrentUser)
        keepDamagedUserHiveAside();
    const RegValue stored = RegValue::ofText(valueName, value);
    // A machine-wide key is created open to every user, so that the next user can update it.
    const platform::RegResult first =
        platform::registry().setValue(hive, keyPath, stored, hive == Hive::LocalMachine);
    if (first.ok)
        return true;
    lastRegistryError() = first.error.left(kMaxText);
    return platform::registry().setValue(hive, keyPath, stored, false).ok;
}

QString ReadRegString(Hive hive, const QString& keyPath, const QString& valueName) {
    if (hive == Hive::CurrentUser)
        keepDamagedUserHiveAside();
    const std::optional<RegValue> value = platform::registry().value(hive, keyPath, valueName);
    const std::optional<QString> text = value ? storedText(*value) : std::nullopt;
    if (!text)
        return {};
    const qsizetype nul = text->indexOf(QChar(u'\0'));
    return nul < 0 ? *text : text->left(nul);
}

quint32 ReadRegDWord(Hive hive, const QString& keyPath, const QString& valueName) {
    if (hive == Hive::CurrentUser)
        keepDamagedUserHiveAside();
    const std::optional<RegValue> value = platform::registry().value(hive, keyPath, valueName);
    return value ? value->dword() : 0;
}

QString LastRegistryError() {
    return lastRegistryError();
}

bool SettingIsTrue(const QString& text, bool defaultValue) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (isNumber && std::isfinite(number))
        return number != 0;
    return defaultValue;
}
