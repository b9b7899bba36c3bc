#include "database/EmbeddedDefault.h"

#include "database/DataLinkFile.h"
#include "platform/Paths.h"

#include <QDir>

QString EmbeddedDataLinkName() {
    return QStringLiteral("Ravlek.udl");
}

QString EmbeddedDatabasePath() {
    return platform::paths().userDataDirectory() + QStringLiteral("/kelvo/ravlek.sqlite");
}

QString EmbeddedConnectionString() {
    QString path = EmbeddedDatabasePath();
    // A ";" would end the value; quotes keep it whole.
    if (path.contains(QLatin1Char(';')))
        path = QLatin1Char('"') + path + QLatin1Char('"');
    return QStringLiteral("Provider=SQLite;Data Source=") + path;
}

TEmbeddedDefault EnsureEmbeddedDataLink(const QString& dataLinksPath) {
    // Any data-link file, whatever the letter case of its extension, is the administrator's
    // choice and is left alone.
    const QDir folder(dataLinksPath);
    if (folder.exists() && !folder.entryList({QStringLiteral("*.udl")}, QDir::Files).isEmpty())
        return TEmbeddedDefault::NotNeeded;
    if (!QDir().mkpath(dataLinksPath))
        return TEmbeddedDefault::NotWritable;
    const QString file = folder.filePath(EmbeddedDataLinkName());
    return WriteDataLinkFile(file, EmbeddedConnectionString()) ? TEmbeddedDefault::Written
                                                               : TEmbeddedDefault::NotWritable;
}
