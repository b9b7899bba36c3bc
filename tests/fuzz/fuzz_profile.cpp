// Profile (INI) files: the bytes of a file as the profile functions find it (a data-link
// file, an image information file, whatever file a caller names), read and then written.

#include "FuzzSupport.h"

#include "platform/IniProfileFile.h"

#include <QList>
#include <QStringDecoder>

namespace profiletext = platform::profiletext;

namespace {

struct Pair {
    QString section;
    QString key;
};

// The file's text, decoded well enough to find names to ask for.
QString roughText(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE).decode(bytes.mid(2));
    return QString::fromUtf8(bytes);
}

// Whether the writer keeps the file in 8-bit Windows text, where other characters become "?".
bool eightBitFile(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.startsWith("\xEF\xBB\xBF"))
        return false;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // the decoder works only when its result is taken
    return utf8.hasError();
}

QList<Pair> pairsOf(const QString& text) {
    QList<Pair> pairs;
    QString section;
    bool inSection = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('['))) {
            section = trimmed.mid(1).section(QLatin1Char(']'), 0, 0).trimmed();
            inSection = true;
        } else if (inSection && trimmed.contains(QLatin1Char('=')) && !trimmed.startsWith(QLatin1Char(';'))) {
            pairs.append({section, trimmed.section(QLatin1Char('='), 0, 0).trimmed()});
        }
    }
    return pairs;
}

// Values to write: the file's own lines, and a run of its bytes taken as UTF-16 code units,
// which may be any character at all.
QStringList valuesOf(const QString& text, const QByteArray& bytes) {
    QStringList values = text.split(QLatin1Char('\n')).mid(0, 4);
    QString units;
    for (qsizetype i = 0; i + 1 < bytes.size() && units.size() < 24; i += 2)
        units.append(QChar(char16_t(uchar(bytes[i]) | uchar(bytes[i + 1]) << 8)));
    values.append(units);
    return values;
}

bool isAscii(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

QString read(const QByteArray& bytes, const Pair& pair) {
    return profiletext::readString(bytes, pair.section, pair.key, QStringLiteral("<missing>"), 1 << 20);
}

bool sameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// One write, and what must hold after it: the file is still profile text, the key reads as
// written, and every other key reads as before.
void checkWrite(const std::optional<QByteArray>& before, const QList<Pair>& pairs, const Pair& target,
                const QString& value) {
    const std::optional<QByteArray> after =
        profiletext::writeString(before, target.section, target.key, value);
    if (!after)
        return;
    fuzz::require(profiletext::isProfile(*after), "a written file stays profile text");
    // An 8-bit file holds only its code page's characters, as on Windows; others become "?".
    if (!before || !eightBitFile(*before) ||
        (isAscii(target.section) && isAscii(target.key) && isAscii(value)))
        fuzz::require(read(*after, target) == fuzz::asReadBack(value), "the written key reads as written");
    if (!before)
        return;
    for (const Pair& pair : pairs) {
        if (sameName(pair.section, target.section) && sameName(pair.key, target.key))
            continue;
        fuzz::require(read(*after, pair) == read(*before, pair),
                      "a write leaves the other keys as they were");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString text = roughText(bytes);
    QList<Pair> pairs = pairsOf(text);
    if (pairs.size() > 16)
        pairs.resize(16);
    for (const Pair& pair : pairs) {
        read(bytes, pair);
        profiletext::readString(bytes, pair.section, pair.key, QString(), 3);
    }
    if (!profiletext::isProfile(bytes)) {
        fuzz::require(!profiletext::writeString(bytes, QStringLiteral("oledb"), QStringLiteral("Provider"),
                                                QStringLiteral("x")),
                      "a file that is no profile text is never written");
        return 0;
    }

    QList<Pair> targets = pairs.mid(0, 3);
    targets.append({QStringLiteral("oledb"), QStringLiteral("Provider")});
    targets.append({pairs.isEmpty() ? QStringLiteral("New") : pairs.last().section, QStringLiteral("Added")});
    const QStringList values = valuesOf(text, bytes);
    for (qsizetype i = 0; i < targets.size(); ++i)
        checkWrite(bytes, pairs, targets.at(i), values.at(i % values.size()));
    checkWrite(std::nullopt, {}, targets.last(), values.last());
    return 0;
}
