#include "cli/RegTool.h"

#include "platform/RegFileRegistry.h"
#include "platform/Registry.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <map>
#include <optional>

using platform::Hive;
using platform::RegChange;
using platform::RegType;
using platform::RegValue;

namespace {

const QString kSuccess = QStringLiteral("The operation completed successfully.");
const QString kNotFound =
    QStringLiteral("The system was unable to find the specified registry key or value.");
const QString kCanceled = QStringLiteral("The operation was canceled by the user.");

// The options each command accepts; those in `withValue` take the next argument.
struct CommandSyntax {
    QSet<QString> flags;
    QSet<QString> withValue;
    int positionals = 1;
    QString usage;
};

const std::map<QString, CommandSyntax>& syntaxTable() {
    static const std::map<QString, CommandSyntax> table = {
        {QStringLiteral("QUERY"),
         {{QStringLiteral("ve"), QStringLiteral("s")},
          {QStringLiteral("v")},
          1,
          QStringLiteral("ravlek-reg QUERY KeyName [/v ValueName | /ve] [/s]")}},
        {QStringLiteral("ADD"),
         {{QStringLiteral("ve"), QStringLiteral("f")},
          {QStringLiteral("v"), QStringLiteral("t"), QStringLiteral("s"), QStringLiteral("d")},
          1,
          QStringLiteral("ravlek-reg ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] "
                         "[/f]\n    Type: REG_SZ | REG_MULTI_SZ | REG_EXPAND_SZ | REG_DWORD | REG_QWORD | "
                         "REG_BINARY | REG_NONE")}},
        {QStringLiteral("DELETE"),
         {{QStringLiteral("ve"), QStringLiteral("va"), QStringLiteral("f")},
          {QStringLiteral("v")},
          1,
          QStringLiteral("ravlek-reg DELETE KeyName [/v ValueName | /ve | /va] [/f]")}},
        {QStringLiteral("EXPORT"),
         {{QStringLiteral("y")}, {}, 2, QStringLiteral("ravlek-reg EXPORT KeyName FileName [/y]")}},
        {QStringLiteral("IMPORT"), {{}, {}, 1, QStringLiteral("ravlek-reg IMPORT FileName")}},
    };
    return table;
}

struct Arguments {
    QString command;
    QStringList positionals;
    QHash<QString, QString> options; // lower-case name without "/" or "-" -> value
    bool has(const QString& option) const { return options.contains(option); }
};

// "/x" or "-x" naming one of the command's options; anything else (a file name such as
// "/tmp/a.reg" included) is a positional argument.
bool isOption(const QString& argument, const CommandSyntax& syntax) {
    if (argument.size() < 2 ||
        !(argument.startsWith(QLatin1Char('/')) || argument.startsWith(QLatin1Char('-'))))
        return false;
    const QString name = argument.mid(1).toLower();
    return syntax.flags.contains(name) || syntax.withValue.contains(name);
}

std::optional<Arguments> parseArguments(const QStringList& arguments, const CommandSyntax& syntax) {
    Arguments parsed;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!isOption(argument, syntax)) {
            parsed.positionals.append(argument);
            continue;
        }
        const QString name = argument.mid(1).toLower();
        if (parsed.has(name))
            return std::nullopt;
        if (syntax.flags.contains(name)) {
            parsed.options.insert(name, QString());
        } else if (i + 1 < arguments.size()) {
            parsed.options.insert(name, arguments[++i]);
        } else {
            return std::nullopt;
        }
    }
    const int valueChoices = int(parsed.has(QStringLiteral("v"))) + int(parsed.has(QStringLiteral("ve"))) +
                             int(parsed.has(QStringLiteral("va")));
    if (parsed.positionals.size() != syntax.positionals || valueChoices > 1)
        return std::nullopt;
    return parsed;
}

struct KeyName {
    Hive hive;
    QString path; // below the hive, without "\" at either end
};

std::optional<KeyName> parseKeyName(const QString& text) {
    const QString hivePart = text.section(QLatin1Char('\\'), 0, 0);
    const auto hive = platform::regfile::hiveFromName(hivePart);
    if (!hive)
        return std::nullopt;
    QString path = text.mid(hivePart.size());
    while (path.startsWith(QLatin1Char('\\')))
        path.remove(0, 1);
    while (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    return KeyName{*hive, path};
}

QString fullName(Hive hive, const QString& path) {
    return path.isEmpty() ? platform::hiveName(hive) : platform::hiveName(hive) + QLatin1Char('\\') + path;
}

QString displayName(const QString& valueName) {
    return valueName.isEmpty() ? QStringLiteral("(Default)") : valueName;
}

// The types by the names reg gives them; any other type is shown by its number.
const std::map<RegType, QString>& typeNames() {
    static const std::map<RegType, QString> names = {
        {RegType::None, QStringLiteral("REG_NONE")},
        {RegType::String, QStringLiteral("REG_SZ")},
        {RegType::ExpandString, QStringLiteral("REG_EXPAND_SZ")},
        {RegType::Binary, QStringLiteral("REG_BINARY")},
        {RegType::DWord, QStringLiteral("REG_DWORD")},
        {RegType::DWordBigEndian, QStringLiteral("REG_DWORD_BIG_ENDIAN")},
        {RegType::Link, QStringLiteral("REG_LINK")},
        {RegType::MultiString, QStringLiteral("REG_MULTI_SZ")},
        {RegType::ResourceList, QStringLiteral("REG_RESOURCE_LIST")},
        {RegType::FullResourceDescriptor, QStringLiteral("REG_FULL_RESOURCE_DESCRIPTOR")},
        {RegType::ResourceRequirementsList, QStringLiteral("REG_RESOURCE_REQUIREMENTS_LIST")},
        {RegType::QWord, QStringLiteral("REG_QWORD")},
    };
    return names;
}

QString typeName(RegType type) {
    const auto it = typeNames().find(type);
    return it != typeNames().end() ? it->second : QStringLiteral("0x%1").arg(quint32(type), 0, 16);
}

// The data as reg shows it: a text up to its first NUL, the texts of a list with "\0"
// between them, a number as "0x" and its hex digits, anything else (a number of the wrong
// size included) as hex digits.
QString dataText(const RegValue& value) {
    const QByteArray& data = value.data;
    switch (value.type) {
    case RegType::String:
    case RegType::ExpandString:
    case RegType::Link: {
        const QString text = value.text();
        return text.left(text.indexOf(QChar(u'\0')));
    }
    case RegType::MultiString: {
        QString texts = value.text();
        if (texts.endsWith(QChar(u'\0')))
            texts.chop(1); // the NUL that closes the list
        return texts.replace(QChar(u'\0'), QStringLiteral("\\0"));
    }
    case RegType::DWord:
        if (data.size() == 4)
            return QStringLiteral("0x") + QString::number(qFromLittleEndian<quint32>(data.constData()), 16);
        break;
    case RegType::DWordBigEndian:
        if (data.size() == 4)
            return QStringLiteral("0x") + QString::number(qFromBigEndian<quint32>(data.constData()), 16);
        break;
    case RegType::QWord:
        if (data.size() == 8)
            return QStringLiteral("0x") + QString::number(qFromLittleEndian<quint64>(data.constData()), 16);
        break;
    default:
        break;
    }
    return QString::fromLatin1(data.toHex().toUpper());
}

QString valueLine(const RegValue& value) {
    return QStringLiteral("    %1    %2    %3")
        .arg(displayName(value.name), typeName(value.type), dataText(value));
}

// A command of the tool, with its arguments and the console.
class Command {
public:
    Command(const Arguments& arguments, RegToolConsole& console)
        : m_args(arguments)
        , m_console(console) {}

    int run() {
        if (m_args.command == QLatin1String("IMPORT"))
            return importFile(m_args.positionals[0]);
        const auto key = parseKeyName(m_args.positionals[0]);
        if (!key)
            return fail(QStringLiteral("Invalid key name.\nType \"ravlek-reg %1 /?\" for usage.")
                            .arg(m_args.command));
        m_hive = key->hive;
        if (m_args.command == QLatin1String("ADD"))
            return add(key->path);
        if (const platform::RegResult status = platform::registry().hiveStatus(m_hive); !status.ok)
            return fail(status.error);
        const auto path = storedSpelling(key->path);
        if (!path)
            return fail(kNotFound);
        if (m_args.command == QLatin1String("QUERY"))
            return query(*path);
        if (m_args.command == QLatin1String("DELETE"))
            return remove(*path);
        return exportKey(*path, m_args.positionals[1]);
    }

private:
    int fail(const QString& text) {
        m_console.err << QStringLiteral("ERROR: ") << text << Qt::endl;
        return 1;
    }

    int succeed() {
        m_console.out << kSuccess << Qt::endl;
        return 0;
    }

    int canceled() {
        m_console.out << kCanceled << Qt::endl;
        return 1;
    }

    bool confirmed(const QString& forceOption, const QString& question) {
        return m_args.has(forceOption) || m_console.confirm(question);
    }

    // The key's path as the registry spells it, or nothing when the key is missing.
    std::optional<QString> storedSpelling(const QString& path) {
        QString spelled;
        for (const QString& part : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
            const QStringList children = platform::registry().subKeys(m_hive, spelled);
            const QString folded = part.toCaseFolded();
            const auto it = std::find_if(children.cbegin(), children.cend(), [&](const QString& child) {
                return child.toCaseFolded() == folded;
            });
            if (it == children.cend())
                return std::nullopt;
            spelled += (spelled.isEmpty() ? QString() : QStringLiteral("\\")) + *it;
        }
        if (!platform::registry().keyExists(m_hive, spelled))
            return std::nullopt;
        return spelled;
    }

    QString childPath(const QString& path, const QString& child) const {
        return path.isEmpty() ? child : path + QLatin1Char('\\') + child;
    }

    // The value name chosen by /v or /ve; empty (the default value) for /ve.
    QString chosenValueName() const { return m_args.options.value(QStringLiteral("v")); }
    bool valueChosen() const { return m_args.has(QStringLiteral("v")) || m_args.has(QStringLiteral("ve")); }

    // ---- query

    int query(const QString& path) {
        QTextStream& out = m_console.out;
        const bool recursive = m_args.has(QStringLiteral("s"));
        if (valueChosen() && recursive) {
            int matches = 0;
            searchValue(path, chosenValueName(), matches);
            out << Qt::endl << QStringLiteral("End of search: %1 match(es) found.").arg(matches) << Qt::endl;
            return matches > 0 ? 0 : 1;
        }
        if (valueChosen()) {
            auto value = platform::registry().value(m_hive, path, chosenValueName());
            if (!value && m_args.has(QStringLiteral("v")))
                return fail(kNotFound);
            out << Qt::endl << fullName(m_hive, path) << Qt::endl;
            if (value)
                out << valueLine(*value) << Qt::endl;
            else
                out << QStringLiteral("    (Default)    REG_SZ    (value not set)") << Qt::endl;
            out << Qt::endl;
            return 0;
        }
        if (recursive) {
            listTree(path);
            return 0;
        }
        out << Qt::endl;
        const QList<RegValue> values = platform::registry().values(m_hive, path);
        if (!values.isEmpty()) {
            out << fullName(m_hive, path) << Qt::endl;
            for (const RegValue& value : values)
                out << valueLine(value) << Qt::endl;
            out << Qt::endl;
        }
        for (const QString& child : platform::registry().subKeys(m_hive, path))
            out << fullName(m_hive, childPath(path, child)) << Qt::endl;
        return 0;
    }

    void listTree(const QString& path) {
        QTextStream& out = m_console.out;
        out << Qt::endl << fullName(m_hive, path) << Qt::endl;
        for (const RegValue& value : platform::registry().values(m_hive, path))
            out << valueLine(value) << Qt::endl;
        for (const QString& child : platform::registry().subKeys(m_hive, path))
            listTree(childPath(path, child));
    }

    void searchValue(const QString& path, const QString& name, int& matches) {
        if (const auto value = platform::registry().value(m_hive, path, name)) {
            ++matches;
            m_console.out << Qt::endl << fullName(m_hive, path) << Qt::endl << valueLine(*value) << Qt::endl;
        }
        for (const QString& child : platform::registry().subKeys(m_hive, path))
            searchValue(childPath(path, child), name, matches);
    }

    // ---- add

    int add(const QString& path) {
        if (path.isEmpty())
            return fail(QStringLiteral("Invalid key name.\nType \"ravlek-reg ADD /?\" for usage."));
        const bool storesValue = valueChosen() || m_args.has(QStringLiteral("t")) ||
                                 m_args.has(QStringLiteral("s")) || m_args.has(QStringLiteral("d"));
        if (!storesValue)
            return report(platform::registry().createKey(m_hive, path));

        QString problem;
        const std::optional<RegValue> value = valueToAdd(problem);
        if (!value)
            return fail(problem);
        if (platform::registry().value(m_hive, path, value->name) &&
            !confirmed(QStringLiteral("f"),
                       QStringLiteral("Value %1 exists, overwrite(Yes/No)? ").arg(displayName(value->name))))
            return canceled();
        return report(platform::registry().setValue(m_hive, path, *value));
    }

    // The value that /v, /t, /s and /d describe, its data in the form reg gives it; nothing,
    // with the reason in `problem`, when the data does not suit the type.
    std::optional<RegValue> valueToAdd(QString& problem) const {
        const QString name = chosenValueName();
        const QString type = m_args.options.value(QStringLiteral("t"), QStringLiteral("REG_SZ")).toUpper();
        const QString data = m_args.options.value(QStringLiteral("d"));
        if (m_args.has(QStringLiteral("s")) && type != QLatin1String("REG_MULTI_SZ")) {
            problem = QStringLiteral("Invalid syntax. /s goes with REG_MULTI_SZ only.");
            return std::nullopt;
        }
        // reg stores the data of a REG_NONE as it stores a text.
        if (type == QLatin1String("REG_SZ"))
            return RegValue::ofText(name, data, RegType::String);
        if (type == QLatin1String("REG_EXPAND_SZ"))
            return RegValue::ofText(name, data, RegType::ExpandString);
        if (type == QLatin1String("REG_NONE"))
            return RegValue::ofText(name, data, RegType::None);
        if (type == QLatin1String("REG_MULTI_SZ")) {
            const std::optional<QStringList> texts = splitTexts(data, problem);
            return texts ? std::optional(RegValue::ofTexts(name, *texts)) : std::nullopt;
        }
        if (type == QLatin1String("REG_BINARY")) {
            const std::optional<QByteArray> bytes = parseHexDigits(data);
            if (!bytes)
                problem = QStringLiteral("Invalid syntax. Specify valid hexadecimal data for '/d'.");
            return bytes ? std::optional(RegValue::ofBytes(name, RegType::Binary, *bytes)) : std::nullopt;
        }
        const bool dword = type == QLatin1String("REG_DWORD");
        if (dword || type == QLatin1String("REG_QWORD")) {
            const std::optional<quint64> number = parseNumber(data, dword ? 0xffffffffULL : ~0ULL);
            if (!number) {
                problem = QStringLiteral("Invalid syntax. Specify valid numeric value for '/d'.");
                return std::nullopt;
            }
            return dword ? RegValue::ofDWord(name, quint32(*number)) : RegValue::ofQWord(name, *number);
        }
        problem = QStringLiteral("Invalid value type \"%1\": use REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, "
                                 "REG_DWORD, REG_QWORD, REG_BINARY or REG_NONE.")
                      .arg(m_args.options.value(QStringLiteral("t")));
        return std::nullopt;
    }

    // A number in decimal or, after "0x", in hex, at most `largest`; no /d is the number 0,
    // as reg stores it.
    static std::optional<quint64> parseNumber(const QString& data, quint64 largest) {
        const QString text = data.trimmed();
        if (text.isEmpty())
            return 0;
        bool ok = false;
        const qulonglong number = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                      ? text.mid(2).toULongLong(&ok, 16)
                                      : text.toULongLong(&ok, 10);
        if (!ok || text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) || number > largest)
            return std::nullopt;
        return number;
    }

    // REG_BINARY data: hex digits, two to a byte; an odd first digit is a byte of its own.
    static std::optional<QByteArray> parseHexDigits(const QString& data) {
        const bool allHex = std::all_of(data.cbegin(), data.cend(), [](QChar c) {
            const char16_t u = c.unicode();
            return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        });
        if (!allHex)
            return std::nullopt;
        const QString digits = data.size() % 2 ? QLatin1Char('0') + data : data;
        return QByteArray::fromHex(digits.toLatin1());
    }

    // A REG_MULTI_SZ's texts: /d split at the separator of /s, or at "\0" without one. The
    // list may end in a separator; no other text may be empty.
    std::optional<QStringList> splitTexts(const QString& data, QString& problem) const {
        QString separator = QStringLiteral("\\0");
        if (m_args.has(QStringLiteral("s"))) {
            separator = m_args.options.value(QStringLiteral("s"));
            if (separator.size() != 1) {
                problem = QStringLiteral("Invalid syntax. Specify one character as the separator.");
                return std::nullopt;
            }
        }
        if (data.isEmpty())
            return QStringList();
        QStringList texts = data.split(separator);
        if (texts.size() > 1 && texts.last().isEmpty())
            texts.removeLast();
        if (texts.contains(QString())) {
            problem =
                QStringLiteral("Invalid syntax. Only the last text of a REG_MULTI_SZ list may be empty.");
            return std::nullopt;
        }
        return texts;
    }

    int report(const platform::RegResult& result) { return result.ok ? succeed() : fail(result.error); }

    // ---- delete

    int remove(const QString& path) {
        const QString name = fullName(m_hive, path);
        if (valueChosen()) {
            const QString valueName = chosenValueName();
            if (!platform::registry().value(m_hive, path, valueName))
                return fail(kNotFound);
            if (!confirmed(
                    QStringLiteral("f"),
                    QStringLiteral("Delete the registry value %1 (Yes/No)? ").arg(displayName(valueName))))
                return canceled();
            return report(platform::registry().deleteValue(m_hive, path, valueName));
        }
        if (m_args.has(QStringLiteral("va"))) {
            if (!confirmed(
                    QStringLiteral("f"),
                    QStringLiteral("Delete all values under the registry key %1 (Yes/No)? ").arg(name)))
                return canceled();
            QList<RegChange> changes;
            for (const RegValue& value : platform::registry().values(m_hive, path))
                changes.append({RegChange::Kind::DeleteValue, path, value});
            return report(platform::registry().apply(m_hive, changes));
        }
        if (path.isEmpty())
            return fail(QStringLiteral("Invalid key name.\nType \"ravlek-reg DELETE /?\" for usage."));
        if (!confirmed(QStringLiteral("f"),
                       QStringLiteral("Permanently delete the registry key %1 (Yes/No)? ").arg(name)))
            return canceled();
        return report(platform::registry().deleteKey(m_hive, path));
    }

    // ---- export and import

    void collect(const QString& path, QList<platform::regfile::Section>& sections) {
        platform::regfile::Section section;
        section.keyName = fullName(m_hive, path);
        for (const RegValue& value : platform::registry().values(m_hive, path)) {
            if (value.name.isEmpty())
                section.entries.prepend({value, false});
            else
                section.entries.append({value, false});
        }
        sections.append(section);
        for (const QString& child : platform::registry().subKeys(m_hive, path))
            collect(childPath(path, child), sections);
    }

    int exportKey(const QString& path, const QString& fileName) {
        if (QFile::exists(fileName) &&
            !confirmed(QStringLiteral("y"),
                       QStringLiteral("File %1 already exists. Overwrite (Yes/No)? ").arg(fileName)))
            return canceled();
        QList<platform::regfile::Section> sections;
        collect(path, sections);
        QSaveFile file(fileName);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(platform::regfile::format(sections, platform::regfile::TextForm::Export)) < 0 ||
            !file.commit())
            return fail(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
        return succeed();
    }

    int importFile(const QString& fileName) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("Error opening the file. There may be a disk or file system error."));
        const platform::regfile::ParseResult parsed = platform::regfile::parse(file.readAll());
        if (!parsed.ok())
            return fail(
                QStringLiteral("%1, line %2: %3").arg(fileName).arg(parsed.errorLine).arg(parsed.error));
        // One batch per hive, so that a hive takes the whole file's changes or none.
        QList<RegChange> changes[2];
        for (const platform::regfile::Section& section : parsed.sections) {
            const Hive hive =
                *platform::regfile::hiveFromName(section.keyName.section(QLatin1Char('\\'), 0, 0));
            changes[hive == Hive::CurrentUser ? 0 : 1] += platform::regfile::changesOf(section);
        }
        for (const Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
            const QList<RegChange>& batch = changes[hive == Hive::CurrentUser ? 0 : 1];
            if (batch.isEmpty())
                continue;
            if (const platform::RegResult result = platform::registry().apply(hive, batch); !result.ok)
                return fail(result.error);
        }
        return succeed();
    }

    const Arguments& m_args;
    RegToolConsole& m_console;
    Hive m_hive = Hive::CurrentUser;
};

void printUsage(QTextStream& out) {
    out << RegToolUsage();
    out.flush();
}

bool asksForHelp(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("/?")) || arguments.contains(QStringLiteral("-?"));
}

} // namespace

QString RegToolUsage() {
    QString usage =
        QStringLiteral("ravlek-reg Operation [Parameter List]\n\n  Operation  [ QUERY | ADD | DELETE | "
                       "EXPORT | IMPORT ]\n\n");
    for (const auto& [name, syntax] : syntaxTable())
        usage += QStringLiteral("  ") + syntax.usage + QLatin1Char('\n');
    usage +=
        QStringLiteral("\n  KeyName    [HKCU | HKLM | HKEY_CURRENT_USER | HKEY_LOCAL_MACHINE]\\SubKey\n");
    return usage;
}

int RunRegTool(const QStringList& arguments, RegToolConsole& console) {
    const QString command = arguments.value(0).toUpper();
    const auto syntax = syntaxTable().find(command);
    if (syntax == syntaxTable().end()) {
        if (asksForHelp(arguments)) {
            printUsage(console.out);
            return 0;
        }
        console.err << QStringLiteral("ERROR: Invalid syntax.\nType \"ravlek-reg /?\" for usage.")
                    << Qt::endl;
        return 1;
    }
    if (asksForHelp(arguments)) {
        console.out << syntax->second.usage << Qt::endl;
        return 0;
    }
    auto parsed = parseArguments(arguments, syntax->second);
    if (!parsed) {
        console.err
            << QStringLiteral("ERROR: Invalid syntax.\nType \"ravlek-reg %1 /?\" for usage.").arg(command)
            << Qt::endl;
        return 1;
    }
    parsed->command = command;
    return Command(*parsed, console).run();
}
