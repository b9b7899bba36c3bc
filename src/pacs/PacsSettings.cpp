#include "pacs/PacsSettings.h"

#include "tools/KelvoSettings.h"

namespace pacs {

namespace {

const QString kSection = QStringLiteral("XRay");
const QString kHost = QStringLiteral("PacsHost");
const QString kPort = QStringLiteral("PacsPort");
const QString kCalledAE = QStringLiteral("PacsCalledAE");
const QString kCallingAE = QStringLiteral("PacsCallingAE");

constexpr int kLongestAETitle = 16;

QString checkAETitle(const QString& title, const QString& role) {
    const QString trimmed = title.trimmed();
    if (trimmed.isEmpty())
        return role + QStringLiteral(" is empty");
    if (trimmed.size() > kLongestAETitle)
        return role + QStringLiteral(" \"%1\" is longer than 16 characters").arg(trimmed);
    for (const QChar c : trimmed) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == QLatin1Char('\\'))
            return role + QStringLiteral(" \"%1\" may hold only printable ASCII characters other than \\")
                              .arg(trimmed);
    }
    return {};
}

} // namespace

QString PacsSettings::describe() const {
    return calledAE.trimmed() + QLatin1Char('@') + host.trimmed() + QLatin1Char(':') + QString::number(port);
}

PacsSettings ReadPacsSettings() {
    PacsSettings settings;
    settings.host = ReadSettingDef(kSection, kHost, QString()).trimmed();
    bool numeric = false;
    const int port = ReadSettingDef(kSection, kPort, QString()).trimmed().toInt(&numeric);
    if (numeric && port >= 1 && port <= 65535)
        settings.port = port;
    settings.calledAE = ReadSettingDef(kSection, kCalledAE, settings.calledAE).trimmed();
    settings.callingAE = ReadSettingDef(kSection, kCallingAE, settings.callingAE).trimmed();
    return settings;
}

void WritePacsSettings(const PacsSettings& settings) {
    WriteSetting(kSection, kHost, settings.host.trimmed());
    WriteSetting(kSection, kPort, QString::number(settings.port));
    WriteSetting(kSection, kCalledAE, settings.calledAE.trimmed());
    WriteSetting(kSection, kCallingAE, settings.callingAE.trimmed());
}

QString CheckPacsSettings(const PacsSettings& settings) {
    if (!settings.enabled())
        return QStringLiteral("no PACS host is given");
    if (settings.port < 1 || settings.port > 65535)
        return QStringLiteral("the port %1 is not between 1 and 65535").arg(settings.port);
    if (QString problem = checkAETitle(settings.calledAE, QStringLiteral("the PACS's AE title"));
        !problem.isEmpty())
        return problem;
    return checkAETitle(settings.callingAE, QStringLiteral("this workstation's AE title"));
}

} // namespace pacs
