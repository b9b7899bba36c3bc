#include "platform/IniProfileFile.h"
#include "support/SmallFileSystem.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QtTest>

using platform::IniProfileFile;

namespace {

QByteArray readAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray utf16Le(const QString& text) {
    return QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringConverter::Utf16LE).encode(text);
}

const QString kDefault = QStringLiteral("<default>");

} // namespace

class tst_ProfileFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void readCutsAtMaxChars_data();
    void readCutsAtMaxChars();
    void readsEncodings_data();
    void readsEncodings();
    void garbageReadsAsMissing_data();
    void garbageReadsAsMissing();
    void missingOrSpecialFileGivesDefault();
    void sizeLimit_data();
    void sizeLimit();
    void write_data();
    void write();
    void writeKeepsEncoding_data();
    void writeKeepsEncoding();
    void writeRefusesTextThatWouldChangeOtherLines_data();
    void writeRefusesTextThatWouldChangeOtherLines();
    void writeIntoMissingFolderFails();
    void eightBitFileNeverTurnsIntoUtf8_data();
    void eightBitFileNeverTurnsIntoUtf8();
    void writeOnFullDiskFailsAndKeepsFile();
};

void tst_ProfileFile::read_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString oledb = QStringLiteral("oledb");
    const QString provider = QStringLiteral("Provider");
    QTest::newRow("data-link line") << QByteArray("[oledb]\n; comment\nProvider=SQLOLEDB.1;Data Source=srv\n")
                                    << oledb << provider << QStringLiteral("SQLOLEDB.1;Data Source=srv");
    QTest::newRow("letter case of section and key")
        << QByteArray("[OleDB]\nPROVIDER=x\n") << oledb << provider << QStringLiteral("x");
    QTest::newRow("blanks around key and value")
        << QByteArray("[oledb]\n  Provider \t=  a b  \n") << oledb << provider << QStringLiteral("a b");
    QTest::newRow("everything after the first =")
        << QByteArray("[oledb]\nProvider=a=b;c=d\n") << oledb << provider << QStringLiteral("a=b;c=d");
    QTest::newRow("empty value is found")
        << QByteArray("[oledb]\nProvider=\n") << oledb << provider << QString();
    QTest::newRow("blanks inside the brackets")
        << QByteArray("[ oledb ]\nProvider=x\n") << oledb << provider << QStringLiteral("x");
    QTest::newRow("enclosing quotes dropped")
        << QByteArray("[oledb]\nProvider=\"a; b\"\n") << oledb << provider << QStringLiteral("a; b");
    QTest::newRow("unmatched quote kept")
        << QByteArray("[oledb]\nProvider=\"a\n") << oledb << provider << QStringLiteral("\"a");
    QTest::newRow("CRLF line ends") << QByteArray("[oledb]\r\nProvider=x\r\n") << oledb << provider
                                    << QStringLiteral("x");
    QTest::newRow("no line end at the end")
        << QByteArray("[oledb]\nProvider=x") << oledb << provider << QStringLiteral("x");
    QTest::newRow("first of two sections") << QByteArray("[oledb]\nProvider=1\n[oledb]\nProvider=2\n")
                                           << oledb << provider << QStringLiteral("1");
    QTest::newRow("missing key") << QByteArray("[oledb]\nOther=x\n") << oledb << provider << kDefault;
    QTest::newRow("missing section") << QByteArray("[other]\nProvider=x\n") << oledb << provider << kDefault;
    QTest::newRow("key of the next section")
        << QByteArray("[oledb]\n[next]\nProvider=x\n") << oledb << provider << kDefault;
    QTest::newRow("key before any section")
        << QByteArray("Provider=x\n[oledb]\n") << oledb << provider << kDefault;
    QTest::newRow("commented out") << QByteArray("[oledb]\n;Provider=x\n") << oledb << provider << kDefault;
    QTest::newRow("line without =") << QByteArray("[oledb]\nProvider\n") << oledb << provider << kDefault;
    QTest::newRow("empty file") << QByteArray() << oledb << provider << kDefault;
}

void tst_ProfileFile::read() {
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("test.ini"), content);
    IniProfileFile profile;
    QVERIFY(profile.isReadable(file));
    QCOMPARE(profile.readString(file, section, key, kDefault, 1000), expected);
}

void tst_ProfileFile::readCutsAtMaxChars_data() {
    QTest::addColumn<int>("maxChars");
    QTest::addColumn<int>("expectedLength");
    QTest::newRow("254 of 300") << 254 << 254;
    QTest::newRow("whole value") << 300 << 300;
    QTest::newRow("none") << 0 << 0;
    QTest::newRow("negative") << -5 << 0;
}

void tst_ProfileFile::readCutsAtMaxChars() {
    QFETCH(int, maxChars);
    QFETCH(int, expectedLength);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("long.ini"), "[s]\nk=" + QByteArray(300, 'x') + "\n");
    QCOMPARE(IniProfileFile().readString(file, QStringLiteral("s"), QStringLiteral("k"), {}, maxChars),
             QString(expectedLength, QLatin1Char('x')));
}

void tst_ProfileFile::readsEncodings_data() {
    QTest::addColumn<QByteArray>("content");
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                                        "Provider=SQLOLEDB.1;User ID=Åsa €\r\n");
    QTest::newRow("UTF-16 LE data-link file") << utf16Le(text);
    QTest::newRow("UTF-16 BE") << QByteArray("\xFE\xFF", 2) +
                                      QStringEncoder(QStringConverter::Utf16BE).encode(text);
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    QTest::newRow("UTF-8") << text.toUtf8();
    QTest::newRow("Windows-1252")
        << text.toUtf8().replace("\xC3\x85", "\xC5").replace("\xE2\x82\xAC", "\x80");
}

void tst_ProfileFile::readsEncodings() {
    QFETCH(QByteArray, content);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("db.udl"), content);
    QCOMPARE(IniProfileFile().readString(file, QStringLiteral("oledb"), QStringLiteral("Provider"), {}, 254),
             QStringLiteral("SQLOLEDB.1;User ID=Åsa €"));
}

void tst_ProfileFile::garbageReadsAsMissing_data() {
    QTest::addColumn<QByteArray>("content");
    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    for (char& byte : random)
        byte = static_cast<char>(generator.bounded(256));
    const QByteArray valid("[oledb]\nProvider=x\n");
    QTest::newRow("random bytes after a valid section") << valid + random;
    QTest::newRow("8-bit text with NUL") << valid + QByteArray("y=\0\n", 4);
    QTest::newRow("8-bit text with control characters") << valid + QByteArray("\x01\x02\x1B");
    QTest::newRow("UTF-16 with NUL") << utf16Le(QStringLiteral("[oledb]\nProvider=x")) + QByteArray(2, '\0');
    QTest::newRow("UTF-16 of odd length") << utf16Le(QStringLiteral("[oledb]\nProvider=x")) + QByteArray("A");
    QTest::newRow("UTF-16 with a lone surrogate")
        << utf16Le(QStringLiteral("[oledb]\nProvider=x")) + QByteArray("\x00\xD8[\x00", 4);
    QTest::newRow("invalid UTF-8 after a byte-order mark") << "\xEF\xBB\xBF" + valid + "\xC3(";
}

void tst_ProfileFile::garbageReadsAsMissing() {
    QFETCH(QByteArray, content);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("garbage.udl"), content);
    IniProfileFile profile;
    QVERIFY(!profile.isReadable(file));
    QCOMPARE(profile.readString(file, QStringLiteral("oledb"), QStringLiteral("Provider"), kDefault, 254),
             kDefault);
    QVERIFY(
        !profile.writeString(file, QStringLiteral("oledb"), QStringLiteral("Provider"), QStringLiteral("y")));
    QCOMPARE(readAll(file), content);
}

void tst_ProfileFile::missingOrSpecialFileGivesDefault() {
    TestEnvironment env;
    IniProfileFile profile;
    for (const QString& name :
         {env.path(QStringLiteral("missing.udl")), env.root(), QStringLiteral("/dev/zero")}) {
        QVERIFY(!profile.isReadable(name));
        QCOMPARE(profile.readString(name, QStringLiteral("oledb"), QStringLiteral("Provider"), kDefault, 254),
                 kDefault);
    }
    QVERIFY(!profile.writeString(env.root(), QStringLiteral("s"), QStringLiteral("k"), QStringLiteral("v")));
}

void tst_ProfileFile::sizeLimit_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("expected");
    QTest::newRow("16 MiB is read") << qint64(16 * 1024 * 1024) << QStringLiteral("v");
    QTest::newRow("one byte more is not") << qint64(16 * 1024 * 1024 + 1) << kDefault;
}

void tst_ProfileFile::sizeLimit() {
    QFETCH(qint64, size);
    TestEnvironment env;
    QByteArray content("[a]\nk=v\n;");
    content.append(size - content.size() - 1, 'x').append('\n');
    const QString file = env.writeFile(QStringLiteral("big.ini"), content);
    QTEST(IniProfileFile().readString(file, QStringLiteral("a"), QStringLiteral("k"), kDefault, 254),
          "expected");
}

void tst_ProfileFile::write_data() {
    QTest::addColumn<QByteArray>("before"); // "<missing>": no file
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("after");

    const QString a = QStringLiteral("a");
    const QString k = QStringLiteral("k");
    QTest::newRow("new file") << QByteArray("<missing>") << a << k << QByteArray("[a]\nk=v\n");
    QTest::newRow("empty file") << QByteArray() << a << k << QByteArray("[a]\nk=v\n");
    QTest::newRow("replaced in place, other section untouched")
        << QByteArray("[a]\nk=1\nx=2\n[b]\nk=3\n") << a << QStringLiteral("K")
        << QByteArray("[a]\nk=v\nx=2\n[b]\nk=3\n");
    QTest::newRow("key keeps its spelling")
        << QByteArray("[A]\n  Key = old\n") << a << QStringLiteral("KEY") << QByteArray("[A]\nKey=v\n");
    QTest::newRow("appended before the blank lines of the section")
        << QByteArray("[a]\nx=1\n\n[b]\ny=2\n") << a << k << QByteArray("[a]\nx=1\nk=v\n\n[b]\ny=2\n");
    QTest::newRow("appended to a last line without line end")
        << QByteArray("[a]\nx=1") << a << k << QByteArray("[a]\nx=1\nk=v\n");
    QTest::newRow("empty section") << QByteArray("[a]\n[b]\n") << a << k << QByteArray("[a]\nk=v\n[b]\n");
    QTest::newRow("new section at the end")
        << QByteArray("; top\n[b]\ny=2\n") << a << k << QByteArray("; top\n[b]\ny=2\n[a]\nk=v\n");
    QTest::newRow("comment is not the key")
        << QByteArray("[a]\n;k=1\n") << a << k << QByteArray("[a]\n;k=1\nk=v\n");
    QTest::newRow("CRLF file stays CRLF")
        << QByteArray("[a]\r\nx=1\r\n") << a << k << QByteArray("[a]\r\nx=1\r\nk=v\r\n");
    QTest::newRow("each other line keeps its own end")
        << QByteArray("[a]\r\nk=1\n; c\r\n") << a << k << QByteArray("[a]\r\nk=v\n; c\r\n");
}

void tst_ProfileFile::write() {
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, after);
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("test.ini"));
    if (before != "<missing>")
        env.writeFile(QStringLiteral("test.ini"), before);
    IniProfileFile profile;
    QVERIFY(profile.writeString(file, section, key, QStringLiteral("v")));
    QCOMPARE(readAll(file), after);
    QCOMPARE(profile.readString(file, section, key, kDefault, 254), QStringLiteral("v"));
}

void tst_ProfileFile::writeKeepsEncoding_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("UTF-16 data-link file") << utf16Le(QStringLiteral("[oledb]\r\nProvider=old\r\n"))
                                           << utf16Le(QStringLiteral("[oledb]\r\nProvider=Åsa €\r\n"));
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF[oledb]\nProvider=old\n")
                                    << QByteArray("\xEF\xBB\xBF[oledb]\nProvider=\xC3\x85sa \xE2\x82\xAC\n");
    QTest::newRow("Windows-1252, other bytes untouched")
        << QByteArray("; \xE5 \x81\x9D\n[oledb]\nProvider=old\n")
        << QByteArray("; \xE5 \x81\x9D\n[oledb]\nProvider=\xC5sa \x80\n");
}

void tst_ProfileFile::writeKeepsEncoding() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("db.udl"), before);
    QVERIFY(IniProfileFile().writeString(file, QStringLiteral("OLEDB"), QStringLiteral("provider"),
                                         QStringLiteral("Åsa €")));
    QCOMPARE(readAll(file), after);
}

void tst_ProfileFile::writeRefusesTextThatWouldChangeOtherLines_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("line break in value")
        << QStringLiteral("a") << QStringLiteral("k") << QStringLiteral("1\n[b]");
    QTest::newRow("carriage return in value")
        << QStringLiteral("a") << QStringLiteral("k") << QStringLiteral("1\r2");
    QTest::newRow("= in key") << QStringLiteral("a") << QStringLiteral("k=x") << QStringLiteral("1");
    QTest::newRow("key looks like a section")
        << QStringLiteral("a") << QStringLiteral("[k]") << QStringLiteral("1");
    QTest::newRow("key looks like a comment")
        << QStringLiteral("a") << QStringLiteral(";k") << QStringLiteral("1");
    QTest::newRow("empty key") << QStringLiteral("a") << QStringLiteral(" ") << QStringLiteral("1");
    QTest::newRow("] in section") << QStringLiteral("a]b") << QStringLiteral("k") << QStringLiteral("1");
    // Either would make the whole file read as no profile file at all.
    QTest::newRow("control character in value")
        << QStringLiteral("a") << QStringLiteral("k") << QStringLiteral("Sore\x01-dex");
    QTest::newRow("NUL in key") << QStringLiteral("a") << QStringLiteral("k\u0000") << QStringLiteral("1");
    QTest::newRow("control character in section")
        << QStringLiteral("a\x1b") << QStringLiteral("k") << QStringLiteral("1");
    QTest::newRow("half a surrogate pair in value")
        << QStringLiteral("a") << QStringLiteral("k") << QString(QChar(0xD800));
}

void tst_ProfileFile::writeRefusesTextThatWouldChangeOtherLines() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    TestEnvironment env;
    const QByteArray before("[a]\nk=0\n");
    const QString file = env.writeFile(QStringLiteral("test.ini"), before);
    QVERIFY(!IniProfileFile().writeString(file, section, key, value));
    QCOMPARE(readAll(file), before);
}

void tst_ProfileFile::writeIntoMissingFolderFails() {
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("no/such/folder/test.ini"));
    QVERIFY(
        !IniProfileFile().writeString(file, QStringLiteral("a"), QStringLiteral("k"), QStringLiteral("v")));
    QVERIFY(!QFile::exists(file));
}

void tst_ProfileFile::eightBitFileNeverTurnsIntoUtf8_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    // "\xC3\xA5" reads "\u00C3\u00A5" in Windows-1252 but "\u00E5" in UTF-8: once the value
    // holding the file's only byte that is no UTF-8 is gone, the file would read as UTF-8.
    QTest::newRow("the value held the only byte that is no UTF-8")
        << QByteArray("[a]\nk=\xE5\nother=\xC3\xA5\n") << QByteArray("[a]\nk=\xE5\nother=\xC3\xA5\n");
    QTest::newRow("what is left is ASCII")
        << QByteArray("[a]\nk=\xE5\nother=1\n") << QByteArray("[a]\nk=x\nother=1\n");
    QTest::newRow("another byte stays no UTF-8")
        << QByteArray("[a]\nk=\xE5\nother=\xC3\xA5 \xE5\n") << QByteArray("[a]\nk=x\nother=\xC3\xA5 \xE5\n");
}

// The file reads as Windows-1252 only while some byte is no UTF-8; a write must not change
// how the other values read.
void tst_ProfileFile::eightBitFileNeverTurnsIntoUtf8() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    TestEnvironment env;
    const QString file = env.writeFile(QStringLiteral("test.ini"), before);
    IniProfileFile profile;
    const QString other =
        profile.readString(file, QStringLiteral("a"), QStringLiteral("other"), kDefault, 254);
    QCOMPARE(profile.writeString(file, QStringLiteral("a"), QStringLiteral("k"), QStringLiteral("x")),
             after != before);
    QCOMPARE(readAll(file), after);
    QCOMPARE(profile.readString(file, QStringLiteral("a"), QStringLiteral("other"), kDefault, 254), other);
}

// A disk with no room left: the write is refused, and the file keeps what it held (not an
// empty file in its place, as a write whose data never reached the disk would leave).
void tst_ProfileFile::writeOnFullDiskFailsAndKeepsFile() {
    TestEnvironment env;
    SmallFileSystem small(env.path(QStringLiteral("small")), "64k");
    if (small.error() != 0)
        QSKIP(qPrintable(small.skipReason()));
    const QString fileName = env.path(QStringLiteral("small/Practice.ini"));
    IniProfileFile profile;
    QVERIFY(profile.writeString(fileName, QStringLiteral("Section"), QStringLiteral("Key"),
                                QStringLiteral("kept")));
    const QByteArray before = readAll(fileName);
    QVERIFY(small.fill(env.path(QStringLiteral("small/filler"))));

    QVERIFY(!profile.writeString(fileName, QStringLiteral("Section"), QStringLiteral("Other"),
                                 QString(5000, QLatin1Char('v'))));
    QCOMPARE(readAll(fileName), before);
    QVERIFY(!profile.writeString(env.path(QStringLiteral("small/New.ini")), QStringLiteral("Section"),
                                 QStringLiteral("Key"), QString(5000, QLatin1Char('v'))));
    QVERIFY(!QFile::exists(env.path(QStringLiteral("small/New.ini"))));
}

QTEST_GUILESS_MAIN(tst_ProfileFile)
#include "tst_profilefile.moc"
