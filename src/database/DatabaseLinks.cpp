#include "database/DatabaseLinks.h"

#include "database/KelvoDatabase.h"

namespace {

const QString kLostUpdateSwedish = QStringLiteral(
    "Det gick inte att hitta raden för uppdatering. Vissa värden kan ha ändrats sedan den lästes sist");
const QString kLostUpdateAdvice =
    QStringLiteral("Uppgifterna kan ha ändrats av en annan användare.") + QStringLiteral("\r") +
    QStringLiteral("Om möjligt, kopiera dina ändringar till klippbordet.") + QStringLiteral("\r\r") +
    QStringLiteral("Tryck sedan Ångra för att se de aktuella uppgifterna.");

} // namespace

bool ReplaceLostUpdateReport(QString& text) {
    for (const QString& report : {RowCannotBeLocatedText(), kLostUpdateSwedish}) {
        const qsizetype at = text.indexOf(report);
        if (at >= 0) {
            text.replace(at, report.size(), kLostUpdateAdvice);
            return true;
        }
    }
    return false;
}

void DatabaseMessage(const TDatabaseLinks& links, platform::DialogKind kind, const QString& text) {
    if (links.EndProgress)
        links.EndProgress();
    platform::DialogRequest request;
    request.text = text;
    request.kind = ReplaceLostUpdateReport(request.text) && kind == platform::DialogKind::Information
                       ? platform::DialogKind::Warning
                       : kind;
    platform::dialogs().show(request);
}
