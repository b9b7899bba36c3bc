#include "database/KelvoCipher.h"

#include <QList>

#include <algorithm>
#include <array>

namespace {

constexpr int kBlockSize = BLOWFISH_BLOCK_SIZE; // 8
constexpr int kCountByte = kBlockSize - 1;      // the final block's count sits in its eighth byte

// Characters of Windows-1252 at 0x80..0x9F. The five bytes the code page leaves undefined
// map to the C1 control of the same number, as the Windows conversion does.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ansiByteFor(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
        return static_cast<char>(codePoint);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == codePoint)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray KelvoCipherKey() {
    // Kept out of the binary as one string, so that it does not show up among its texts.
    QByteArray key;
    key.append("Kelvo");
    key.append('-');
    key.append("Xray");
    key.append(QByteArrayLiteral("Li") + QByteArrayLiteral("nk"));
    key.append('#');
    key.append(static_cast<char>('0' + 7));
    Q_ASSERT(key.size() == 16);
    return key;
}

QByteArray ToAnsiCodePage(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t codePoint : text.toUcs4())
        bytes.append(ansiByteFor(codePoint));
    return bytes;
}

QString FromAnsiCodePage(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text.append(value >= 0x80 && value < 0xA0 ? QChar(kHighControls[value - 0x80])
                                                  : QChar(char16_t(value)));
    }
    return text;
}

TKelvoCipher::TKelvoCipher()
    : TKelvoCipher(KelvoCipherKey()) {}

TKelvoCipher::TKelvoCipher(const QByteArray& key) {
    Q_ASSERT(key.size() >= BLOWFISH_MIN_KEY_SIZE && key.size() <= BLOWFISH_MAX_KEY_SIZE);
    // A "weak" key only makes nettle report it; the schedule is set up either way.
    blowfish_set_key(&m_context, static_cast<size_t>(key.size()),
                     reinterpret_cast<const uint8_t*>(key.constData()));
}

QByteArray TKelvoCipher::EncryptBlock(const QByteArray& block) const {
    Q_ASSERT(block.size() == kBlockSize);
    QByteArray out(kBlockSize, Qt::Uninitialized);
    blowfish_encrypt(&m_context, kBlockSize, reinterpret_cast<uint8_t*>(out.data()),
                     reinterpret_cast<const uint8_t*>(block.constData()));
    return out;
}

QByteArray TKelvoCipher::EncryptBytes(const QByteArray& clearBytes) const {
    const qsizetype whole = clearBytes.size() / kBlockSize * kBlockSize;
    const qsizetype rest = clearBytes.size() - whole;
    QByteArray blocks = clearBytes.left(whole);
    QByteArray last(kBlockSize, '\0');
    std::copy(clearBytes.cbegin() + whole, clearBytes.cend(), last.begin());
    last[kCountByte] = static_cast<char>(rest);
    blocks.append(last);

    QByteArray out(blocks.size(), Qt::Uninitialized);
    blowfish_encrypt(&m_context, static_cast<size_t>(blocks.size()), reinterpret_cast<uint8_t*>(out.data()),
                     reinterpret_cast<const uint8_t*>(blocks.constData()));
    return out;
}

std::optional<QByteArray> TKelvoCipher::DecryptBytes(const QByteArray& cipherBytes) const {
    if (cipherBytes.isEmpty() || cipherBytes.size() % kBlockSize != 0)
        return std::nullopt;
    QByteArray clear(cipherBytes.size(), Qt::Uninitialized);
    blowfish_decrypt(&m_context, static_cast<size_t>(cipherBytes.size()),
                     reinterpret_cast<uint8_t*>(clear.data()),
                     reinterpret_cast<const uint8_t*>(cipherBytes.constData()));
    const int rest = static_cast<unsigned char>(clear.at(clear.size() - 1));
    // A count above 7 cannot come from the encryption: the text was stored under another
    // key or damaged, and taking any bytes of it would give a wrong login.
    if (rest >= kBlockSize)
        return std::nullopt;
    clear.truncate(clear.size() - kBlockSize + rest);
    return clear;
}

std::optional<QString> TKelvoCipher::DecryptString(const QString& stored) const {
    // A fixed-width column pads its text with blanks, which Base64 never holds. Any other
    // character outside the alphabet (a non-Latin-1 one becomes "?") makes the decoding fail.
    const auto decoded =
        QByteArray::fromBase64Encoding(stored.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const std::optional<QByteArray> clear = DecryptBytes(*decoded);
    if (!clear)
        return std::nullopt;
    return FromAnsiCodePage(*clear);
}

QString TKelvoCipher::EncryptString(const QString& clearText) const {
    return QString::fromLatin1(EncryptBytes(ToAnsiCodePage(clearText)).toBase64());
}
