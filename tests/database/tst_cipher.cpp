#include "database/KelvoCipher.h"

#include <QtTest>

class TestCipher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void publishedVectors_data();
    void publishedVectors();
    void builtInKeyMatchesDocumentedSamples();
    void blockFormat_data();
    void blockFormat();
    void roundTrip_data();
    void roundTrip();
    void textRoundTrip_data();
    void textRoundTrip();
    void windows1252();
    void badInput_data();
    void badInput();
    void paddedColumnText();
    void otherKeyDoesNotDecode();
};

// Eric Young's Blowfish test vectors: the all-zero key and the 16-byte key of the key-length table.
void TestCipher::publishedVectors_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("clear");
    QTest::addColumn<QByteArray>("cipher");
    QTest::newRow("zero key") << QByteArray::fromHex("0000000000000000")
                              << QByteArray::fromHex("0000000000000000")
                              << QByteArray::fromHex("4EF997456198DD78");
    QTest::newRow("16-byte key") << QByteArray::fromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F")
                                 << QByteArray::fromHex("FEDCBA9876543210")
                                 << QByteArray::fromHex("93142887EE3BE15C");
}

void TestCipher::publishedVectors() {
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, clear);
    QFETCH(QByteArray, cipher);
    QCOMPARE(TKelvoCipher(key).EncryptBlock(clear).toHex(), cipher.toHex());
}

// The stored forms given to the host program's administrators (docs/database-login.md),
// which must keep decrypting: they pin the built-in key.
void TestCipher::builtInKeyMatchesDocumentedSamples() {
    QCOMPARE(KelvoCipherKey().size(), 16);
    const TKelvoCipher cipher;
    QCOMPARE(cipher.DecryptString(QStringLiteral("gch5+w4hft4=")), std::optional(QStringLiteral("ravlek")));
    QCOMPARE(cipher.EncryptString(QStringLiteral("xray")), QStringLiteral("1iP+1N0RHXc="));
}

// Every block is encrypted on its own, and the final block carries the count of remaining bytes.
void TestCipher::blockFormat_data() {
    QTest::addColumn<QByteArray>("clear");
    QTest::addColumn<QByteArray>("expectedBlocks");
    QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("0000000000000000");
    QTest::newRow("three bytes") << QByteArray("abc") << QByteArray::fromHex("6162630000000003");
    QTest::newRow("one whole block") << QByteArray("abcdefgh")
                                     << QByteArray::fromHex("6162636465666768 0000000000000000");
    QTest::newRow("block and one") << QByteArray("abcdefghi")
                                   << QByteArray::fromHex("6162636465666768 6900000000000001");
}

void TestCipher::blockFormat() {
    QFETCH(QByteArray, clear);
    QFETCH(QByteArray, expectedBlocks);
    const TKelvoCipher cipher;
    QByteArray expected;
    for (qsizetype i = 0; i < expectedBlocks.size(); i += 8)
        expected += cipher.EncryptBlock(expectedBlocks.mid(i, 8));
    QCOMPARE(cipher.EncryptBytes(clear).toHex(), expected.toHex());
}

void TestCipher::roundTrip_data() {
    QTest::addColumn<int>("length");
    for (int length = 0; length <= 17; ++length)
        QTest::addRow("%d bytes", length) << length;
}

void TestCipher::roundTrip() {
    QFETCH(int, length);
    QByteArray clear;
    for (int i = 0; i < length; ++i)
        clear.append(static_cast<char>(0x41 + i * 7));
    const TKelvoCipher cipher;
    const QByteArray encrypted = cipher.EncryptBytes(clear);
    QCOMPARE(encrypted.size(), (length / 8 + 1) * 8);
    const std::optional<QByteArray> decrypted = cipher.DecryptBytes(encrypted);
    QVERIFY(decrypted);
    QCOMPARE(*decrypted, clear);
}

void TestCipher::textRoundTrip_data() {
    QTest::addColumn<QString>("clear");
    QTest::newRow("empty") << QString();
    QTest::newRow("login") << QStringLiteral("kelvo_admin");
    QTest::newRow("Swedish") << QStringLiteral("Lösenord_åäö_ÅÄÖ");
    QTest::newRow("euro and quotes") << QStringLiteral("€ „citat” – ‰");
}

void TestCipher::textRoundTrip() {
    QFETCH(QString, clear);
    const TKelvoCipher cipher;
    const QString stored = cipher.EncryptString(clear);
    QVERIFY(!stored.contains(QLatin1Char('\n')));
    QCOMPARE(QByteArray::fromBase64Encoding(stored.toLatin1(), QByteArray::AbortOnBase64DecodingErrors)
                 .decodingStatus,
             QByteArray::Base64DecodingStatus::Ok);
    QCOMPARE(cipher.DecryptString(stored), std::optional<QString>(clear));
}

void TestCipher::windows1252() {
    QCOMPARE(ToAnsiCodePage(QStringLiteral("Åö€™")), QByteArray("\xC5\xF6\x80\x99"));
    QCOMPARE(FromAnsiCodePage(QByteArray("\xC5\xF6\x80\x99\x81")), QStringLiteral("Åö€™\u0081"));
    // A character outside the code page cannot be stored and becomes "?".
    QCOMPARE(ToAnsiCodePage(QStringLiteral("Łx")), QByteArray("?x"));
}

void TestCipher::badInput_data() {
    const TKelvoCipher cipher;
    QTest::addColumn<QString>("stored");
    QTest::newRow("empty") << QString();
    QTest::newRow("not Base64") << QStringLiteral("#not*base64!");
    QTest::newRow("non-Latin character") << QStringLiteral("AAAAAAAAAAŁ=");
    QTest::newRow("not a whole block") << QString::fromLatin1(cipher.EncryptBytes("abc").left(7).toBase64());
    QTest::newRow("block and a half")
        << QString::fromLatin1(cipher.EncryptBytes("abcdefghi").left(12).toBase64());
    // Final blocks whose count byte says 8 and 255: no encryption writes these.
    QTest::newRow("count 8") << QString::fromLatin1(
        cipher.EncryptBlock(QByteArray::fromHex("6162630000000008")).toBase64());
    QTest::newRow("count 255") << QString::fromLatin1(
        cipher.EncryptBlock(QByteArray::fromHex("61626364656667FF")).toBase64());
}

void TestCipher::badInput() {
    QFETCH(QString, stored);
    QCOMPARE(TKelvoCipher().DecryptString(stored), std::nullopt);
}

void TestCipher::paddedColumnText() {
    const TKelvoCipher cipher;
    const QString stored = cipher.EncryptString(QStringLiteral("ravlek"));
    QCOMPARE(cipher.DecryptString(stored + QStringLiteral("      ")),
             std::optional(QStringLiteral("ravlek")));
}

void TestCipher::otherKeyDoesNotDecode() {
    const QString stored =
        TKelvoCipher(QByteArrayLiteral("another key 1234")).EncryptString(QStringLiteral("abc"));
    QVERIFY(TKelvoCipher().DecryptString(stored) != std::optional(QStringLiteral("abc")));
}

QTEST_GUILESS_MAIN(TestCipher)
#include "tst_cipher.moc"
