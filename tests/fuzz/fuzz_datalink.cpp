// Data-link (".udl") files and the connection strings they hold. The input is the file's
// bytes (UTF-16 with a byte-order mark, as the system writes them, or 8-bit text); it is
// also taken as a connection string of its own.

#include "FuzzSupport.h"

#include "database/DataLinkFile.h"
#include "database/KelvoDatabase.h"

#include <QHash>

namespace {

bool sameLink(const TDataLink& a, const TDataLink& b) {
    return a.provider == b.provider && a.server == b.server && a.database == b.database && a.user == b.user &&
           a.password == b.password && a.integratedSecurity == b.integratedSecurity &&
           a.otherParts == b.otherParts;
}

// What the editor writes, it reads back as the same parts (a system login has no user name
// or password of its own, so those are not written with it).
void checkComposing(const TDataLink& link) {
    TDataLink expected = link;
    if (expected.integratedSecurity) {
        expected.user.clear();
        expected.password.clear();
    }
    const QString composed = ComposeConnectionString(expected);
    fuzz::require(sameLink(ParseConnectionString(composed), expected),
                  "a composed connection string reads back");
}

// The attributes of an ODBC connection string: "key=value;" with values in braces where
// they hold special characters ("}}" standing for "}").
QHash<QString, QString> odbcAttributes(const QString& text, bool* wellFormed) {
    QHash<QString, QString> attributes;
    *wellFormed = true;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), i);
        if (equals < 0) {
            *wellFormed = false;
            return attributes;
        }
        const QString key = text.mid(i, equals - i).toUpper();
        QString value;
        i = equals + 1;
        if (i < text.size() && text.at(i) == QLatin1Char('{')) {
            for (++i;; ++i) {
                if (i >= text.size()) {
                    *wellFormed = false;
                    return attributes;
                }
                if (text.at(i) == QLatin1Char('}')) {
                    if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('}')) {
                        value.append(QLatin1Char('}'));
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                value.append(text.at(i));
            }
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            value = text.mid(i, (end < 0 ? text.size() : end) - i);
            i += value.size();
        }
        if (attributes.contains(key)) // a second attribute of the same name: injected
            *wellFormed = false;
        attributes.insert(key, value);
        if (i < text.size() && text.at(i) != QLatin1Char(';'))
            *wellFormed = false;
        ++i;
    }
    return attributes;
}

// Nothing in the user's login or database name can add or change an ODBC attribute.
void checkOdbc(const TDataLink& link, const QString& driver) {
    bool wellFormed = false;
    const QHash<QString, QString> attributes =
        odbcAttributes(OdbcConnectionString(link, driver), &wellFormed);
    fuzz::require(wellFormed, "the ODBC connection string is well formed");
    fuzz::require(attributes.value(QStringLiteral("DRIVER")) == driver, "the ODBC driver is the one chosen");
    if (!link.database.isEmpty())
        fuzz::require(attributes.value(QStringLiteral("DATABASE")) == link.database,
                      "DATABASE is the catalog");
    if (!link.integratedSecurity) {
        fuzz::require(attributes.value(QStringLiteral("UID")) == link.user, "UID is the user");
        fuzz::require(attributes.value(QStringLiteral("PWD")) == link.password, "PWD is the password");
    }
    const QStringList known{QStringLiteral("DRIVER"),
                            QStringLiteral("SERVER"),
                            QStringLiteral("PORT"),
                            QStringLiteral("DATABASE"),
                            QStringLiteral("UID"),
                            QStringLiteral("PWD"),
                            QStringLiteral("TRUSTED_CONNECTION")};
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
        fuzz::require(known.contains(it.key()), "no other ODBC attribute appears");
}

void checkConnectionString(const QString& connectionString) {
    const TDataLink link = ParseConnectionString(connectionString);
    checkComposing(link);
    EngineOfProvider(link.provider);
    checkOdbc(link, QStringLiteral("FreeTDS"));
    checkOdbc(link, QStringLiteral("ODBC Driver 18 for SQL Server"));
    TADOConnection connection;
    connection.SetConnectionString(connectionString);
    try {
        connection.Engine();
    } catch (const EDatabaseError&) {
        // an unknown provider is refused with a message, which is all that is asked
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    if (const std::optional<QString> fromFile = DataLinkConnectionString(bytes)) {
        fuzz::require(fromFile->startsWith(QStringLiteral("Provider=")),
                      "a data link's string names its provider");
        checkConnectionString(*fromFile);
    }
    checkConnectionString(QString::fromUtf8(bytes));
    return 0;
}
