#include "platform/IniProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <optional>

namespace platform {

namespace {

constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
constexpr qint64 kReadPiece = 64 * 1024;

enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Windows1252 };

// Windows-1252 at 0x80..0x9F. The five unassigned bytes stand for the control character of
// the same number, as Windows itself decodes them, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text.append(value >= 0x80 && value < 0xA0 ? QChar(kWindows1252High[value - 0x80])
                                                  : QChar(char16_t(value)));
    }
    return text;
}

// A character the code page lacks becomes "?", as in the Windows conversion.
QByteArray toWindows1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        char byte = '?';
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            byte = static_cast<char>(unit);
        } else {
            for (int i = 0; i < int(kWindows1252High.size()); ++i) {
                if (kWindows1252High[i] == unit)
                    byte = static_cast<char>(0x80 + i);
            }
        }
        bytes.append(byte);
    }
    return bytes;
}

struct Line {
    QString text;
    QString end; // "\r\n", "\n" or empty for a last line without one
};

struct ProfileText {
    Encoding encoding = Encoding::Utf8;
    QList<Line> lines;
    QString newline = QStringLiteral("\n"); // for lines the writer adds
};

// The UTF-16 decoder passes surrogates through unchecked.
bool wellPairedSurrogates(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    return true;
}

// The text of a Unicode file; nothing when its bytes are not valid in that encoding.
std::optional<QString> decode(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    const bool utf16 = encoding != QStringConverter::Utf8;
    if (utf16 && bytes.size() % 2 != 0)
        return std::nullopt;
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || (utf16 && !wellPairedSurrogates(text)))
        return std::nullopt;
    return text;
}

// Text files hold no control characters besides tab, line and page breaks and the old end
// of file mark (0x1A); binary data nearly always does.
bool looksLikeText(const QString& text) {
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r' && unit != u'\f' &&
            unit != u'\v' && unit != 0x1A)
            return false;
    }
    return true;
}

std::optional<QString> decodeText(const QByteArray& bytes, Encoding* encoding) {
    std::optional<QString> text;
    if (bytes.startsWith("\xFF\xFE")) {
        *encoding = Encoding::Utf16Le;
        text = decode(QStringConverter::Utf16LE, QByteArrayView(bytes).sliced(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        *encoding = Encoding::Utf16Be;
        text = decode(QStringConverter::Utf16BE, QByteArrayView(bytes).sliced(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        *encoding = Encoding::Utf8Bom;
        text = decode(QStringConverter::Utf8, QByteArrayView(bytes).sliced(3));
    } else {
        *encoding = Encoding::Utf8;
        text = decode(QStringConverter::Utf8, bytes);
        if (!text) {
            *encoding = Encoding::Windows1252;
            text = fromWindows1252(bytes);
        }
    }
    if (text && !looksLikeText(*text))
        return std::nullopt;
    return text;
}

// Whether written bytes read back in the encoding they were written in. A file reads as
// Windows-1252 only while some byte of it is no UTF-8: should a write remove the last such
// byte, the file would read as UTF-8 and its other values differently (ASCII aside).
bool readsInEncoding(const QByteArray& bytes, Encoding encoding) {
    Encoding reread = encoding;
    if (!decodeText(bytes, &reread))
        return false;
    const bool ascii =
        std::all_of(bytes.cbegin(), bytes.cend(), [](char byte) { return uchar(byte) < 0x80; });
    return reread == encoding || (encoding == Encoding::Windows1252 && ascii);
}

QByteArray encodeText(const QString& text, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf16Le:
        return QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringConverter::Utf16LE).encode(text);
    case Encoding::Utf16Be:
        return QByteArray("\xFE\xFF", 2) + QStringEncoder(QStringConverter::Utf16BE).encode(text);
    case Encoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Windows1252:
        return toWindows1252(text);
    case Encoding::Utf8:
        break;
    }
    return text.toUtf8();
}

QList<Line> splitLines(const QString& text) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
        if (feed < 0) {
            lines.append({text.mid(start), {}});
            break;
        }
        const bool crlf = feed > start && text.at(feed - 1) == QLatin1Char('\r');
        const qsizetype contentEnd = crlf ? feed - 1 : feed;
        lines.append(
            {text.mid(start, contentEnd - start), crlf ? QStringLiteral("\r\n") : QStringLiteral("\n")});
        start = feed + 1;
    }
    return lines;
}

// The text of a profile file's bytes; nothing when they are no profile text.
std::optional<ProfileText> parseProfile(const QByteArray& bytes) {
    ProfileText profile;
    const std::optional<QString> text = decodeText(bytes, &profile.encoding);
    if (!text)
        return std::nullopt;
    profile.lines = splitLines(*text);
    if (!profile.lines.isEmpty() && profile.lines.first().end == QStringLiteral("\r\n"))
        profile.newline = QStringLiteral("\r\n");
    return profile;
}

enum class LoadResult { Loaded, Missing, NotProfile };

// The file's bytes; whether they are profile text is for the parser to say.
LoadResult load(const QString& fileName, QByteArray* bytes) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return LoadResult::Missing;
    if (!info.isFile() || info.size() > kMaxFileSize)
        return LoadResult::NotProfile;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return LoadResult::NotProfile;
    // In pieces, so that a small file costs no more than its size, up to one byte beyond
    // the limit, so that a file that grew meanwhile is still refused.
    bytes->clear();
    while (bytes->size() <= kMaxFileSize) {
        const QByteArray piece = file.read(std::min(kReadPiece, kMaxFileSize + 1 - bytes->size()));
        if (piece.isEmpty())
            break;
        bytes->append(piece);
    }
    return bytes->size() > kMaxFileSize ? LoadResult::NotProfile : LoadResult::Loaded;
}

// The name of a section header line "[name]", or nothing for other lines.
std::optional<QString> sectionName(const QString& line) {
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
    return (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed();
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct KeyLine {
    QString key;
    QString value;
};

std::optional<KeyLine> keyLine(const QString& line) {
    if (line.trimmed().startsWith(QLatin1Char(';')))
        return std::nullopt;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return std::nullopt;
    return KeyLine{line.left(equals).trimmed(), line.mid(equals + 1).trimmed()};
}

// Windows drops one pair of quotes that encloses the whole value.
QString unquoted(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Index of the header line of the first section named `section`, or -1.
qsizetype findSection(const QList<Line>& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<QString> name = sectionName(lines.at(i).text);
        if (name && sameName(*name, section))
            return i;
    }
    return -1;
}

// Index of the line after the section that starts at `header`.
qsizetype sectionEnd(const QList<Line>& lines, qsizetype header) {
    qsizetype i = header + 1;
    while (i < lines.size() && !sectionName(lines.at(i).text))
        ++i;
    return i;
}

qsizetype findKey(const QList<Line>& lines, qsizetype header, const QString& key) {
    const qsizetype end = sectionEnd(lines, header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const std::optional<KeyLine> entry = keyLine(lines.at(i).text);
        if (entry && sameName(entry->key, key))
            return i;
    }
    return -1;
}

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// A text that the file can hold without turning into one that reads as no profile file.
bool storable(const QString& text) {
    return looksLikeText(text) && wellPairedSurrogates(text);
}

bool writable(const QString& section, const QString& key, const QString& value) {
    const QString trimmedKey = key.trimmed();
    return !hasLineBreak(section) && !section.contains(QLatin1Char(']')) && !hasLineBreak(key) &&
           !hasLineBreak(value) && !trimmedKey.isEmpty() && !trimmedKey.contains(QLatin1Char('=')) &&
           !trimmedKey.startsWith(QLatin1Char('[')) && !trimmedKey.startsWith(QLatin1Char(';')) &&
           storable(section) && storable(key) && storable(value);
}

// Inserts `line` at `index`, giving the line before it an end when it was the last one.
void insertLine(ProfileText& profile, qsizetype index, const QString& text) {
    if (index > 0 && profile.lines.at(index - 1).end.isEmpty())
        profile.lines[index - 1].end = profile.newline;
    profile.lines.insert(index, {text, profile.newline});
}

void setValue(ProfileText& profile, const QString& section, const QString& key, const QString& value) {
    const qsizetype header = findSection(profile.lines, section);
    if (header < 0) {
        insertLine(profile, profile.lines.size(), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(profile, profile.lines.size(), key + QLatin1Char('=') + value);
        return;
    }
    const qsizetype existing = findKey(profile.lines, header, key);
    if (existing >= 0) {
        // The key keeps the spelling it has in the file.
        profile.lines[existing].text =
            keyLine(profile.lines.at(existing).text)->key + QLatin1Char('=') + value;
        return;
    }
    // A new key goes after the section's last non-blank line, before the blank lines that
    // separate it from the next section.
    qsizetype insertAt = sectionEnd(profile.lines, header);
    while (insertAt - 1 > header && profile.lines.at(insertAt - 1).text.trimmed().isEmpty())
        --insertAt;
    insertLine(profile, insertAt, key + QLatin1Char('=') + value);
}

} // namespace

namespace profiletext {

bool isProfile(const QByteArray& bytes) {
    return parseProfile(bytes).has_value();
}

QString readString(const QByteArray& bytes, const QString& section, const QString& key,
                   const QString& defaultValue, int maxChars) {
    const int limit = qMax(0, maxChars);
    const std::optional<ProfileText> profile = parseProfile(bytes);
    if (!profile)
        return defaultValue.left(limit);
    const qsizetype header = findSection(profile->lines, section);
    const qsizetype line = header < 0 ? -1 : findKey(profile->lines, header, key);
    if (line < 0)
        return defaultValue.left(limit);
    return unquoted(keyLine(profile->lines.at(line).text)->value).left(limit);
}

std::optional<QByteArray> writeString(const std::optional<QByteArray>& bytes, const QString& section,
                                      const QString& key, const QString& value) {
    if (!writable(section, key, value))
        return std::nullopt;
    ProfileText profile;
    if (bytes) {
        std::optional<ProfileText> parsed = parseProfile(*bytes);
        if (!parsed)
            return std::nullopt;
        profile = std::move(*parsed);
    }
    setValue(profile, section.trimmed(), key.trimmed(), value);

    QString text;
    for (const Line& line : std::as_const(profile.lines))
        text += line.text + line.end;
    QByteArray written = encodeText(text, profile.encoding);
    if (!readsInEncoding(written, profile.encoding))
        return std::nullopt;
    return written;
}

} // namespace profiletext

QString IniProfileFile::readString(const QString& fileName, const QString& section, const QString& key,
                                   const QString& defaultValue, int maxChars) {
    QByteArray bytes;
    if (load(fileName, &bytes) != LoadResult::Loaded)
        return defaultValue.left(qMax(0, maxChars));
    return profiletext::readString(bytes, section, key, defaultValue, maxChars);
}

bool IniProfileFile::isReadable(const QString& fileName) {
    QByteArray bytes;
    return load(fileName, &bytes) == LoadResult::Loaded && profiletext::isProfile(bytes);
}

bool IniProfileFile::writeString(const QString& fileName, const QString& section, const QString& key,
                                 const QString& value) {
    QByteArray current;
    const LoadResult loaded = load(fileName, &current);
    if (loaded == LoadResult::NotProfile)
        return false;
    const std::optional<QByteArray> updated = profiletext::writeString(
        loaded == LoadResult::Loaded ? std::optional(current) : std::nullopt, section, key, value);
    if (!updated)
        return false;
    QSaveFile file(fileName);
    // A file in a folder the user may not write can still be updated in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The write only fills a buffer: a full disk shows when it is flushed, and the commit
    // would put the unwritten (empty) file in place of the old one regardless.
    return file.write(*updated) == updated->size() && file.flush() && file.commit();
}

std::unique_ptr<ProfileFile> ProfileFile::makeDefault() {
    return std::make_unique<IniProfileFile>();
}

} // namespace platform
