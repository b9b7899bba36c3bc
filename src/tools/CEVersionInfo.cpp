#include "tools/CEVersionInfo.h"

#include "platform/FileVersion.h"

#include <QHash>

TCEVersionInfo::TCEVersionInfo() {
    GetInfo(platform::fileVersionReader().ownProgramFile());
}

void TCEVersionInfo::GetInfo(const QString& fileName) {
    const std::optional<QHash<QString, QString>> strings =
        platform::fileVersionReader().versionStrings(fileName);
    const std::pair<QString*, QString> properties[] = {
        {&CompanyName, QStringLiteral("CompanyName")},
        {&FileDescription, QStringLiteral("FileDescription")},
        {&FileVersion, QStringLiteral("FileVersion")},
        {&InternalName, QStringLiteral("InternalName")},
        {&LegalCopyright, QStringLiteral("LegalCopyright")},
        {&LegalTrademarks, QStringLiteral("LegalTrademarks")},
        {&OriginalFilename, QStringLiteral("OriginalFilename")},
        {&PrivateBuild, QStringLiteral("PrivateBuild")},
        {&ProductName, QStringLiteral("ProductName")},
        {&ProductVersion, QStringLiteral("ProductVersion")},
    };
    for (const auto& [property, name] : properties)
        *property = strings ? strings->value(name) : kVersionInfoNotAvailable;
    SpecialBuild = strings ? strings->value(QStringLiteral("SpecialBuild")) : QString();
    if (!strings) {
        MajorVersion = MinorVersion = Release = Build = kVersionInfoNotAvailable;
        return;
    }
    splitFileVersion();
}

void TCEVersionInfo::splitFileVersion() {
    const QChar separator = FileVersion.contains(QLatin1Char('.')) ? QLatin1Char('.') : QLatin1Char(',');
    if (!FileVersion.contains(separator)) {
        MajorVersion = MinorVersion = Release = Build = kVersionInfoNotAvailable;
        return;
    }
    // The fourth part is everything after the third separator; a part that is not there is empty.
    const QStringList parts = FileVersion.split(separator);
    MajorVersion = parts.value(0);
    MinorVersion = parts.value(1);
    Release = parts.value(2);
    Build = parts.size() > 3 ? QStringList(parts.mid(3)).join(separator) : QString();
}
