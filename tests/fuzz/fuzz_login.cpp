// The stored database login: the Base64 text of Blowfish blocks that the host program keeps
// in KELVOUSER, decoded, and the connection string the login is written into. The input is
// the stored text.

#include "FuzzSupport.h"

#include "database/KelvoCipher.h"
#include "database/KelvoLogin.h"

namespace {

const TKelvoCipher& cipher() {
    static const TKelvoCipher instance;
    return instance;
}

// Setting a connection-string parameter makes it read back as set.
void checkConnectionParam(const QString& connectionString, const QString& key, const QString& value) {
    QString text = connectionString;
    SetConnectionParam(text, key, value);
    const QString read = GetConnectionParam(text, key, QStringLiteral(";"));
    if (!value.contains(QLatin1Char(';')) && (!value.isEmpty() || connectionString.contains(key)))
        fuzz::require(read == value, "a connection-string parameter reads back as set");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString stored = QString::fromUtf8(bytes);

    const std::optional<QString> clear = cipher().DecryptString(stored);
    if (clear) {
        const std::optional<QString> again = cipher().DecryptString(cipher().EncryptString(*clear));
        fuzz::require(again == clear, "a decoded login encodes to a text that decodes to it");
    }
    const std::optional<QByteArray> clearBytes = cipher().DecryptBytes(bytes);
    fuzz::require(!clearBytes || clearBytes->size() <= bytes.size(), "decoding never adds bytes");
    fuzz::require(cipher().DecryptBytes(cipher().EncryptBytes(bytes)) == bytes,
                  "any bytes survive the cipher");

    // The decoded login goes into the connection string that the input also stands for.
    const QString value = clear.value_or(stored.left(16));
    checkConnectionParam(stored, QStringLiteral("Password="), value);
    checkConnectionParam(stored, QStringLiteral("User ID="), value);
    return 0;
}
