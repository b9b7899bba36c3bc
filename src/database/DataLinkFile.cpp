#include "database/DataLinkFile.h"

#include "database/KelvoCipher.h"
#include "platform/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace {

const QString kProviderKey = QStringLiteral("Provider");
const QString kPasswordKey = QStringLiteral("Password");
const QString kPersistKey = QStringLiteral("Persist Security Info");
const QString kUserKey = QStringLiteral("User ID");
const QString kCatalogKey = QStringLiteral("Initial Catalog");
const QString kSourceKey = QStringLiteral("Data Source");
const QString kIntegratedKey = QStringLiteral("Integrated Security");
constexpr int kIniStringLength = 254;

bool sameKey(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The parts of a connection string between its ";". A value that begins with a double
// quote runs to its closing quote (a doubled one stands for itself) and may hold ";"; a
// quote anywhere else is an ordinary character, as in a password.
QStringList splitParts(const QString& text) {
    QStringList parts;
    QString current;
    bool inValue = false;    // past the part's "="
    bool valueBegun = false; // the value has had a character other than a blank
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(';')) {
            parts.append(current);
            current.clear();
            inValue = valueBegun = false;
            continue;
        }
        current.append(c);
        if (!inValue) {
            inValue = c == QLatin1Char('=');
            continue;
        }
        if (c == QLatin1Char('"') && !valueBegun) {
            for (++i; i < text.size(); ++i) {
                current.append(text.at(i));
                if (text.at(i) != QLatin1Char('"'))
                    continue;
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                    current.append(text.at(++i));
                else
                    break;
            }
        }
        valueBegun = valueBegun || !c.isSpace();
    }
    parts.append(current);
    return parts;
}

QString unquote(const QString& value) {
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        return value.mid(1, value.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    return value;
}

QString quoteWhenNeeded(const QString& value) {
    const bool needsQuotes =
        value.contains(QLatin1Char(';')) || value.startsWith(QLatin1Char('"')) || value != value.trimmed();
    if (!needsQuotes)
        return value;
    return QLatin1Char('"') + QString(value).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

// Data-link files are UTF-16 with a byte-order mark; older tools also wrote 8-bit files.
QString decodeFileText(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE).decode(bytes.mid(2));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return FromAnsiCodePage(bytes);
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// A data-link argument names the file itself (relative names from the current directory),
// a file in the program's folder or one in the data-link folder, tried in that order.
QString resolveDataLinkArgument(const QString& argument, const QString& programDir,
                                const QString& dataLinksPath) {
    for (const QString& candidate : {argument, programDir + argument, dataLinksPath + argument}) {
        if (fileExists(candidate))
            return candidate;
    }
    return {};
}

} // namespace

std::optional<DataLinkEngine> EngineOfProvider(const QString& provider) {
    const QString name = provider.trimmed().section(QLatin1Char('.'), 0, 0);
    const auto startsWith = [&name](const char16_t* prefix) {
        return name.startsWith(QString::fromUtf16(prefix), Qt::CaseInsensitive);
    };
    if (startsWith(u"SQLOLEDB") || startsWith(u"SQLNCLI") || startsWith(u"MSOLEDBSQL"))
        return DataLinkEngine::SqlServer;
    if (sameKey(name, QStringLiteral("PostgreSQL")))
        return DataLinkEngine::PostgreSQL;
    if (sameKey(name, QStringLiteral("SQLite")))
        return DataLinkEngine::SQLite;
    return std::nullopt;
}

QString ProviderOfEngine(DataLinkEngine engine) {
    switch (engine) {
    case DataLinkEngine::SqlServer:
        return QStringLiteral("SQLOLEDB.1");
    case DataLinkEngine::PostgreSQL:
        return QStringLiteral("PostgreSQL");
    case DataLinkEngine::SQLite:
        return QStringLiteral("SQLite");
    }
    return {};
}

TDataLink ParseConnectionString(const QString& connectionString) {
    TDataLink link;
    for (const QString& part : splitParts(connectionString)) {
        if (part.trimmed().isEmpty())
            continue;
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        const QString key = part.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : unquote(part.mid(equals + 1).trimmed());
        if (sameKey(key, kProviderKey))
            link.provider = value;
        else if (sameKey(key, kSourceKey))
            link.server = value;
        else if (sameKey(key, kCatalogKey))
            link.database = value;
        else if (sameKey(key, kUserKey))
            link.user = value;
        else if (sameKey(key, kPasswordKey))
            link.password = value;
        else if (sameKey(key, kIntegratedKey))
            link.integratedSecurity = sameKey(value, QStringLiteral("SSPI"));
        else if (!sameKey(key, kPersistKey)) // recomputed from the login when written
            link.otherParts.append({key, value});
    }
    return link;
}

QString ComposeConnectionString(const TDataLink& link) {
    QStringList parts{kProviderKey + QLatin1Char('=') + quoteWhenNeeded(link.provider)};
    const auto add = [&parts](const QString& key, const QString& value) {
        parts.append(key + QLatin1Char('=') + quoteWhenNeeded(value));
    };
    if (link.integratedSecurity) {
        add(kIntegratedKey, QStringLiteral("SSPI"));
        add(kPersistKey, QStringLiteral("False"));
    } else if (!link.user.isEmpty() || !link.password.isEmpty()) {
        if (!link.password.isEmpty())
            add(kPasswordKey, link.password);
        add(kPersistKey, link.password.isEmpty() ? QStringLiteral("False") : QStringLiteral("True"));
        if (!link.user.isEmpty())
            add(kUserKey, link.user);
    }
    if (!link.database.isEmpty())
        add(kCatalogKey, link.database);
    if (!link.server.isEmpty())
        add(kSourceKey, link.server);
    for (const auto& [key, value] : link.otherParts)
        add(key, value);
    return parts.join(QLatin1Char(';'));
}

std::optional<QString> ReadDataLinkFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return DataLinkConnectionString(file.readAll());
}

std::optional<QString> DataLinkConnectionString(const QByteArray& fileBytes) {
    const QString text = decodeFileText(fileBytes);
    bool inSection = false;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = sameKey(line, QStringLiteral("[oledb]"));
            continue;
        }
        if (!inSection || line.startsWith(QLatin1Char(';')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && sameKey(line.left(equals).trimmed(), kProviderKey))
            return kProviderKey + QLatin1Char('=') + line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

bool WriteDataLinkFile(const QString& fileName, const QString& connectionString, QString* error) {
    const QString text =
        QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
        connectionString + QStringLiteral("\r\n");
    QStringEncoder toUtf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    const QByteArray bytes = toUtf16.encode(text);
    QSaveFile file(fileName);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

QString DataLinkConnectionString(const QString& fileName) {
    return kProviderKey + QLatin1Char('=') +
           platform::profileFile().readString(fileName, QStringLiteral("oledb"), kProviderKey, QString(),
                                              kIniStringLength);
}

void SelectDataLinkAtStart(TDataLinkState& state, const QString& storedDefault, const QStringList& arguments,
                           const QString& programDir) {
    state.DataProviderFile = fileExists(storedDefault) ? storedDefault : state.DataLinksPath + storedDefault;
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.toUpper().contains(QStringLiteral(".UDL")))
            continue;
        const QString file = resolveDataLinkArgument(argument, programDir, state.DataLinksPath);
        if (!file.isEmpty())
            state.DataProviderFile = file;
    }
    // An unreadable or binary file leaves the connection string empty, so that the login
    // looks for a usable file instead of trying a connection string without a provider.
    state.ConnectionString = platform::profileFile().isReadable(state.DataProviderFile)
                                 ? DataLinkConnectionString(state.DataProviderFile)
                                 : QString();
}

QString FileNamePart(const QString& path) {
    const qsizetype delimiter =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(delimiter + 1);
}
