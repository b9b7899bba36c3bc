#pragma once

// The cipher of the stored database login (table KELVOUSER): Blowfish in electronic code
// book mode over 8-byte blocks, written as Base64.
//
// Block format: the clear bytes are cut into whole 8-byte blocks, and one final block is
// always added that holds the remaining 0 to 7 bytes, zero-filled, with their number in
// its eighth byte. Clear text is taken as bytes in the Windows-1252 code page, the code
// page of the host program that writes the table.

#include <QByteArray>
#include <QString>

#include <nettle/blowfish.h>

#include <optional>

class TKelvoCipher {
public:
    // Keyed with the program's built-in key (KelvoCipherKey()).
    TKelvoCipher();
    // Keyed with `key` (1 to 56 bytes); used by tests with published vectors.
    explicit TKelvoCipher(const QByteArray& key);

    // Decrypts a stored text; nothing when it is undecodable (not Base64, no whole
    // non-zero number of blocks, or a final block whose count is above 7).
    std::optional<QString> DecryptString(const QString& stored) const;
    // The stored form of `clearText`, which DecryptString turns back into it.
    QString EncryptString(const QString& clearText) const;

    // The same at byte level, without Base64 and code page.
    std::optional<QByteArray> DecryptBytes(const QByteArray& cipherBytes) const;
    QByteArray EncryptBytes(const QByteArray& clearBytes) const;

    // One raw Blowfish block (8 bytes in, 8 bytes out).
    QByteArray EncryptBlock(const QByteArray& block) const;

private:
    blowfish_ctx m_context{};
};

// The fixed 16-byte key built into the program. The host program stores the login in
// KELVOUSER under the same key (docs/database-login.md).
QByteArray KelvoCipherKey();

// Text <-> bytes in the Windows-1252 code page. A character outside the code page
// becomes "?", as the Windows conversion does without a best-fit match.
QByteArray ToAnsiCodePage(const QString& text);
QString FromAnsiCodePage(const QByteArray& bytes);
