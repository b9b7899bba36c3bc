// The .reg text: reading it from hive files and imports, writing hive files and exports.

#include "platform/RegFileRegistry.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

namespace platform::regfile {

bool fitsOnLine(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c == 0x7f)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

QList<RegChange> changesOf(const Section& section) {
    const qsizetype slash = section.keyName.indexOf(QLatin1Char('\\'));
    const QString keyPath = slash < 0 ? QString() : section.keyName.mid(slash + 1);
    QList<RegChange> changes;
    changes.append({section.remove ? RegChange::Kind::DeleteKey : RegChange::Kind::CreateKey, keyPath, {}});
    if (section.remove)
        return changes;
    for (const Entry& entry : section.entries)
        changes.append(
            {entry.remove ? RegChange::Kind::DeleteValue : RegChange::Kind::SetValue, keyPath, entry.value});
    return changes;
}

std::optional<Hive> hiveFromName(QStringView name) {
    if (name.compare(u"HKEY_CURRENT_USER", Qt::CaseInsensitive) == 0 ||
        name.compare(u"HKCU", Qt::CaseInsensitive) == 0)
        return Hive::CurrentUser;
    if (name.compare(u"HKEY_LOCAL_MACHINE", Qt::CaseInsensitive) == 0 ||
        name.compare(u"HKLM", Qt::CaseInsensitive) == 0)
        return Hive::LocalMachine;
    return std::nullopt;
}

namespace {

// The comment line by which the machine hive marks a key open to every user; any comment
// that begins with kOpenMarker counts.
constexpr QStringView kOpenMarker = u"; Open to every user";
const QString kOpenMarkerLine =
    kOpenMarker.toString() + QStringLiteral(": its values and subkeys are kept in the hive of open keys");

// The registry editor breaks a line of hex data after the comma that takes it to this many
// characters, and indents the next one by two blanks.
constexpr qsizetype kHexLineBreak = 77;

// ---------------------------------------------------------------------------------------
// Writing

QString quoted(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// "hex:" for REG_BINARY, "hex(<type in hex>):" for every other type, as the editor writes them.
QString hexTag(RegType type) {
    if (type == RegType::Binary)
        return QStringLiteral("hex:");
    return QStringLiteral("hex(%1):").arg(quint32(type), 0, 16);
}

// The bytes as two lower-case hex digits each, separated by commas and wrapped after `lead`.
QString hexData(const QString& lead, const QByteArray& bytes, const QString& lineEnd) {
    static constexpr char kDigits[] = "0123456789abcdef";
    QString out = lead;
    out.reserve(lead.size() + bytes.size() * 3 + bytes.size() / 25 * (lineEnd.size() + 3));
    qsizetype lineLength = lead.size();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar byte = uchar(bytes[i]);
        out += QLatin1Char(kDigits[byte >> 4]);
        out += QLatin1Char(kDigits[byte & 0xf]);
        if (i + 1 == bytes.size())
            break;
        out += QLatin1Char(',');
        lineLength += 3;
        if (lineLength >= kHexLineBreak) {
            out += QLatin1Char('\\') + lineEnd + QStringLiteral("  ");
            lineLength = 2;
        }
    }
    return out;
}

// A REG_SZ that can stand between quotes: one text, its NUL at the end, nothing a line
// cannot carry. Anything else is written in hex so that it comes back exactly.
bool isPlainText(const RegValue& value) {
    const QByteArray& data = value.data;
    if (value.type != RegType::String || data.size() < 2 || data.size() % 2 != 0 || data.back() != '\0' ||
        data[data.size() - 2] != '\0')
        return false;
    return fitsOnLine(value.text());
}

QString valueText(const Entry& entry, const QString& lineEnd) {
    const RegValue& value = entry.value;
    const QString lead = (value.name.isEmpty() ? QStringLiteral("@") : quoted(value.name)) + QLatin1Char('=');
    if (entry.remove)
        return lead + QLatin1Char('-');
    if (isPlainText(value))
        return lead + quoted(value.text());
    if (value.type == RegType::DWord && value.data.size() == sizeof(quint32))
        return lead + QStringLiteral("dword:%1").arg(value.dword(), 8, 16, QLatin1Char('0'));
    return hexData(lead + hexTag(value.type), value.data, lineEnd);
}

// ---------------------------------------------------------------------------------------
// Reading

// A number of 1 to `maxDigits` hexadecimal digits and nothing else.
std::optional<quint32> hexNumber(QStringView text, qsizetype maxDigits) {
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    quint32 number = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        quint32 digit = 0;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else
            return std::nullopt;
        number = number << 4 | digit;
    }
    return number;
}

// Splits the text into lines; false (with the line) when it is not text of ours.
bool decodeLines(const QByteArray& bytes, QStringList& lines, int& badLine, QString& reason) {
    if (bytes.size() > kMaxTextSize) {
        badLine = 1;
        reason = QStringLiteral("the file is larger than %1 MiB").arg(kMaxTextSize / (1024 * 1024));
        return false;
    }
    QStringList raw;
    if (bytes.startsWith("\xff\xfe")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(bytes).sliced(2));
        raw = text.split(QLatin1Char('\n'));
        if (decoder.hasError() || bytes.size() % 2 != 0) {
            const qsizetype bad = text.indexOf(QChar::ReplacementCharacter);
            badLine = int(bad < 0 ? raw.size() : text.left(bad).count(QLatin1Char('\n')) + 1);
            reason = QStringLiteral("the text is not valid UTF-16");
            return false;
        }
    } else {
        QByteArrayView view(bytes);
        if (view.startsWith("\xef\xbb\xbf"))
            view = view.sliced(3);
        qsizetype start = 0;
        for (qsizetype i = 0; i <= view.size(); ++i) {
            if (i < view.size() && view[i] != '\n')
                continue;
            QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            raw.append(decoder.decode(view.sliced(start, i - start)));
            if (decoder.hasError()) {
                badLine = int(raw.size());
                reason = QStringLiteral("the text is not valid UTF-8");
                return false;
            }
            start = i + 1;
        }
    }
    for (qsizetype n = 0; n < raw.size(); ++n) {
        QString& line = raw[n];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const bool control = std::any_of(line.cbegin(), line.cend(), [](QChar c) {
            return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f;
        });
        if (control) {
            badLine = int(n) + 1;
            reason = QStringLiteral("the line holds a control character, so the file is not text");
            return false;
        }
    }
    lines = raw;
    return true;
}

// Reads a quoted text starting at `pos` (on the opening quote); leaves `pos` after the
// closing one. Only \\ and \" are escapes.
bool readQuoted(QStringView line, qsizetype& pos, QString& out) {
    ++pos;
    while (pos < line.size()) {
        const QChar c = line[pos++];
        if (c == QLatin1Char('"'))
            return true;
        if (c == QLatin1Char('\\')) {
            if (pos >= line.size() || (line[pos] != QLatin1Char('\\') && line[pos] != QLatin1Char('"')))
                return false;
            out += line[pos++];
        } else {
            out += c;
        }
    }
    return false;
}

class Parser {
public:
    explicit Parser(const QStringList& lines)
        : m_lines(lines) {}

    ParseResult run() {
        while (m_at < m_lines.size() && m_lines[m_at].trimmed().isEmpty())
            ++m_at;
        if (m_at >= m_lines.size() || m_lines[m_at].trimmed() != kHeader) {
            failed(QStringLiteral("the file does not begin with \"%1\"").arg(kHeader));
            return m_result;
        }
        for (++m_at; m_at < m_lines.size(); ++m_at) {
            const QString line = m_lines[m_at].trimmed();
            if (line.isEmpty())
                continue;
            if (line.startsWith(QLatin1Char(';'))) {
                if (line.startsWith(kOpenMarker, Qt::CaseInsensitive) && !m_result.sections.isEmpty())
                    m_result.sections.last().openToEveryone = true;
                continue;
            }
            const bool ok = line.startsWith(QLatin1Char('[')) ? keyLine(line) : valueLine(line);
            if (!ok)
                break;
        }
        return m_result;
    }

private:
    bool failed(const QString& reason) {
        m_result.sections.clear();
        m_result.errorLine =
            int(std::clamp<qsizetype>(m_at, 0, std::max<qsizetype>(m_lines.size() - 1, 0))) + 1;
        m_result.error = reason;
        return false;
    }

    bool keyLine(const QString& line) {
        if (!line.endsWith(QLatin1Char(']')))
            return failed(QStringLiteral("the key line has no closing \"]\""));
        Section section;
        section.line = int(m_at) + 1;
        QString name = line.mid(1, line.size() - 2);
        if (name.startsWith(QLatin1Char('-'))) {
            section.remove = true;
            name.remove(0, 1);
        }
        const QStringList parts = name.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
        const QString hivePart = parts.value(0);
        if (!hiveFromName(hivePart))
            return failed(QStringLiteral("\"%1\" is not a hive this registry holds").arg(hivePart));
        if (parts.size() - 1 > kMaxKeyDepth)
            return failed(QStringLiteral("the key lies more than %1 levels deep").arg(kMaxKeyDepth));
        for (const QString& part : parts) {
            if (part.size() > kMaxKeyNameLength)
                return failed(
                    QStringLiteral("a key name is longer than %1 characters").arg(kMaxKeyNameLength));
        }
        // Without the empty parts (a leading, doubled or trailing "\"), so that the name
        // begins with its hive's, as everyone who takes it apart expects.
        section.keyName = parts.join(QLatin1Char('\\'));
        m_result.sections.append(section);
        return true;
    }

    bool valueLine(const QString& line) {
        if (m_result.sections.isEmpty())
            return failed(QStringLiteral("a value comes before any key"));
        Entry entry;
        qsizetype pos = 0;
        if (line.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!line.startsWith(QLatin1Char('"')) || !readQuoted(line, pos, entry.value.name)) {
            return failed(QStringLiteral("the line is neither a key nor a value"));
        }
        const QString rest = line.mid(pos).trimmed();
        if (!rest.startsWith(QLatin1Char('=')))
            return failed(QStringLiteral("the value name is not followed by \"=\""));
        const QString data = rest.mid(1).trimmed();
        if (data == QLatin1String("-")) {
            entry.remove = true;
        } else if (data.startsWith(QLatin1Char('"'))) {
            qsizetype at = 0;
            QString text;
            if (!readQuoted(data, at, text) || at != data.size())
                return failed(QStringLiteral("the quoted text is cut off or badly escaped"));
            entry.value = RegValue::ofText(entry.value.name, text);
        } else if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            const auto number = hexNumber(QStringView(data).mid(6), 8);
            if (!number)
                return failed(QStringLiteral("\"%1\" is not a dword").arg(data.mid(6)));
            entry.value = RegValue::ofDWord(entry.value.name, *number);
        } else if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            if (!hexValue(data, entry.value))
                return false;
        } else {
            return failed(QStringLiteral("the value's data cannot be read"));
        }
        m_result.sections.last().entries.append(entry);
        return true;
    }

    // "hex:" (REG_BINARY) or "hex(<type>):" and bytes, continued on the next line after a
    // closing "\".
    bool hexValue(QString data, RegValue& value) {
        while (data.endsWith(QLatin1Char('\\'))) {
            data.chop(1);
            if (m_at + 1 >= m_lines.size())
                return failed(QStringLiteral("the hex data is cut off"));
            data += QStringView(m_lines[++m_at]).trimmed();
        }
        const qsizetype colon = data.indexOf(QLatin1Char(':'));
        if (colon < 0)
            return failed(QStringLiteral("the hex data has no \":\""));
        const QStringView tag = QStringView(data).left(colon);
        std::optional<quint32> type;
        if (tag.compare(u"hex", Qt::CaseInsensitive) == 0)
            type = quint32(RegType::Binary);
        else if (tag.size() > 5 && tag.startsWith(u"hex(", Qt::CaseInsensitive) && tag.endsWith(u')'))
            type = hexNumber(tag.sliced(4, tag.size() - 5), 8);
        if (!type)
            return failed(QStringLiteral("\"%1\" is not a type of data").arg(tag));
        QByteArray bytes;
        bytes.reserve((data.size() - colon) / 3 + 1);
        for (const QStringView token : QStringView(data).sliced(colon + 1).split(u',', Qt::SkipEmptyParts)) {
            const auto byte = hexNumber(token.trimmed(), 2);
            if (!byte)
                return failed(QStringLiteral("\"%1\" is not a hex byte").arg(token));
            bytes.append(char(*byte));
        }
        value = RegValue::ofBytes(value.name, RegType(*type), bytes);
        return true;
    }

    const QStringList& m_lines;
    qsizetype m_at = 0;
    ParseResult m_result;
};

} // namespace

ParseResult parse(const QByteArray& bytes) {
    QStringList lines;
    ParseResult result;
    if (!decodeLines(bytes, lines, result.errorLine, result.error))
        return result;
    return Parser(lines).run();
}

QByteArray format(const QList<Section>& sections, TextForm form) {
    const QString lineEnd = form == TextForm::Export ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString out = kHeader.toString() + lineEnd + lineEnd;
    for (const Section& section : sections) {
        out += QLatin1Char('[') + (section.remove ? QStringLiteral("-") : QString()) + section.keyName +
               QLatin1Char(']') + lineEnd;
        if (section.openToEveryone)
            out += kOpenMarkerLine + lineEnd;
        for (const Entry& entry : section.entries)
            out += valueText(entry, lineEnd) + lineEnd;
        out += lineEnd;
    }
    if (form == TextForm::Hive)
        return out.toUtf8();
    QByteArray bytes(2 + out.size() * 2, Qt::Uninitialized);
    bytes[0] = '\xff';
    bytes[1] = '\xfe';
    qToLittleEndian<char16_t>(out.utf16(), out.size(), bytes.data() + 2);
    return bytes;
}

} // namespace platform::regfile
