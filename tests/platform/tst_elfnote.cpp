// The version information in ELF files: our own programs carry it, files made here in every
// ELF flavour are read, and damaged or hostile files give nothing rather than a crash.

#include "ElfFixture.h"
#include "TestEnvironment.h"
#include "platform/ElfPackageNote.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>

using elftest::ElfFile;

namespace {

const QHash<QString, QString> kStrings{{QStringLiteral("FileVersion"), QStringLiteral("4.1.0.6")},
                                       {QStringLiteral("CompanyName"), QStringLiteral("Kelvo")}};

std::optional<QByteArray> noteOf(const QByteArray& file) {
    QBuffer buffer;
    buffer.setData(file);
    buffer.open(QIODevice::ReadOnly);
    return platform::readPackageNote(buffer);
}

ElfFile fileWithNotes(QList<elftest::Note> notes) {
    ElfFile file;
    file.notes = std::move(notes);
    return file;
}

} // namespace

class TestElfNote : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ourProgramsCarryTheirVersion_data();
    void ourProgramsCarryTheirVersion();
    void everyElfFlavourIsRead_data();
    void everyElfFlavourIsRead();
    void filesWithoutThePackageNote_data();
    void filesWithoutThePackageNote();
    void payloadsWithoutVersionStrings_data();
    void payloadsWithoutVersionStrings();
    void truncatedFilesGiveNothing();
    void damagedFilesNeverCrash();
    void hostileHeaders_data();
    void hostileHeaders();
    void onlyRegularFilesAreRead();
};

void TestElfNote::ourProgramsCarryTheirVersion_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("description");
    QTest::newRow("ravlek") << QStringLiteral("ravlek") << QStringLiteral("Kelvo Digital X-Ray");
    QTest::newRow("kelvo-progress") << QStringLiteral("kelvo-progress")
                                    << QStringLiteral("Kelvo progress display");
    QTest::newRow("ravlek-host") << QStringLiteral("ravlek-host")
                                 << QStringLiteral("Stand-in journal program for Ravlek");
    QTest::newRow("ravlek-sim") << QStringLiteral("ravlek-sim") << QStringLiteral("Simulated Digora devices");
    QTest::newRow("ravlek-reg") << QStringLiteral("ravlek-reg") << QStringLiteral("Registry tool for Ravlek");
}

void TestElfNote::ourProgramsCarryTheirVersion() {
    QFETCH(QString, program);
    QFETCH(QString, description);
    platform::ElfFileVersionReader reader;
    const auto strings = reader.versionStrings(programPath(program));
    QVERIFY2(strings, qPrintable(programPath(program)));
    QCOMPARE(strings->value(QStringLiteral("FileVersion")), QStringLiteral(RAVLEK_PROJECT_VERSION ".0"));
    QCOMPARE(strings->value(QStringLiteral("ProductVersion")), QStringLiteral(RAVLEK_PROJECT_VERSION));
    QCOMPARE(strings->value(QStringLiteral("FileDescription")), description);
    QCOMPARE(strings->value(QStringLiteral("OriginalFilename")), program);
    QCOMPARE(strings->value(QStringLiteral("InternalName")), program);
    QCOMPARE(strings->value(QStringLiteral("CompanyName")), QStringLiteral("Kelvo"));
    QCOMPARE(strings->value(QStringLiteral("ProductName")), QStringLiteral("Ravlek"));
    QCOMPARE(strings->size(), 11);

    // The note follows the freedesktop convention, so other tools can read it too.
    QFile file(programPath(program));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject payload =
        QJsonDocument::fromJson(platform::readPackageNote(file).value_or("")).object();
    QCOMPARE(payload.value(u"name").toString(), QStringLiteral("ravlek"));
    QCOMPARE(payload.value(u"version").toString(), QStringLiteral(RAVLEK_PROJECT_VERSION));

    // The running test program carries one of its own.
    QCOMPARE(reader.versionStrings(reader.ownProgramFile())->value(QStringLiteral("InternalName")),
             QStringLiteral("tst_elfnote"));
}

void TestElfNote::everyElfFlavourIsRead_data() {
    QTest::addColumn<bool>("is64");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<bool>("withSegment");
    QTest::addColumn<bool>("withSection");
    QTest::addColumn<int>("align");
    QTest::newRow("64-bit little-endian") << true << false << true << true << 4;
    QTest::newRow("64-bit big-endian") << true << true << true << true << 4;
    QTest::newRow("32-bit little-endian") << false << false << true << true << 4;
    QTest::newRow("32-bit big-endian") << false << true << true << true << 4;
    QTest::newRow("note segment only (sections stripped)") << true << false << true << false << 4;
    QTest::newRow("note section only (an object file)") << true << false << false << true << 4;
    QTest::newRow("notes aligned to 8") << true << false << true << true << 8;
}

void TestElfNote::everyElfFlavourIsRead() {
    QFETCH(bool, is64);
    QFETCH(bool, bigEndian);
    QFETCH(bool, withSegment);
    QFETCH(bool, withSection);
    QFETCH(int, align);
    ElfFile file;
    file.is64 = is64;
    file.bigEndian = bigEndian;
    file.withSegment = withSegment;
    file.withSection = withSection;
    file.align = quint64(align);
    // Behind another note, as in a real program.
    file.notes = {elftest::buildIdNote(), elftest::packageNote(kStrings)};
    const std::optional<QByteArray> payload = noteOf(file.build());
    QVERIFY(payload);
    QVERIFY(!payload->endsWith('\0'));
    QVERIFY(platform::versionStringsOfPackageNote(*payload) == std::optional(kStrings));
}

void TestElfNote::filesWithoutThePackageNote_data() {
    QTest::addColumn<QByteArray>("content");
    const elftest::Note package = elftest::packageNote(kStrings);
    elftest::Note otherOwner = package;
    otherOwner.owner = QByteArray("GNU\0", 4);
    elftest::Note otherType = package;
    otherType.type = 1;
    elftest::Note ownerWithoutNul = package;
    ownerWithoutNul.owner = QByteArray("FDO");
    QTest::newRow("no file content") << QByteArray();
    QTest::newRow("a text file") << QByteArray("FileVersion=4.1.0.6\n");
    QTest::newRow("ELF magic only") << QByteArray("\x7f"
                                                  "ELF");
    QTest::newRow("no notes") << fileWithNotes({}).build();
    QTest::newRow("build id only") << fileWithNotes({elftest::buildIdNote()}).build();
    QTest::newRow("another owner") << fileWithNotes({otherOwner}).build();
    QTest::newRow("another type") << fileWithNotes({otherType}).build();
    QTest::newRow("owner without its NUL") << fileWithNotes({ownerWithoutNul}).build();
    QByteArray unknownClass = fileWithNotes({package}).build();
    unknownClass[4] = 3;
    QTest::newRow("unknown ELF class") << unknownClass;
}

void TestElfNote::filesWithoutThePackageNote() {
    QFETCH(QByteArray, content);
    QVERIFY(!noteOf(content));
}

void TestElfNote::payloadsWithoutVersionStrings_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("not JSON") << QByteArray("FileVersion 4.1.0.6");
    QTest::newRow("a JSON array") << QByteArray("[1,2]");
    QTest::newRow("standard fields only") << QByteArray(R"({"type":"deb","name":"x","version":"1"})");
    QTest::newRow("versionInfo no object") << QByteArray(R"({"versionInfo":"4.1.0.6"})");
}

void TestElfNote::payloadsWithoutVersionStrings() {
    QFETCH(QByteArray, payload);
    QVERIFY(!platform::versionStringsOfPackageNote(payload));
}

void TestElfNote::truncatedFilesGiveNothing() {
    const QByteArray whole = fileWithNotes({elftest::buildIdNote(), elftest::packageNote(kStrings)}).build();
    QVERIFY(noteOf(whole));
    // Cut before the section headers end, a file still has its note segment; cut anywhere
    // before the note's end, nothing is found. Whatever the cut, nothing reads past the end.
    const qsizetype noteEnd = whole.indexOf("}}") + 2;
    for (qsizetype length = 0; length < whole.size(); ++length) {
        const std::optional<QByteArray> payload = noteOf(whole.left(length));
        if (length < noteEnd)
            QVERIFY2(!payload, qPrintable(QString::number(length)));
    }
}

void TestElfNote::damagedFilesNeverCrash() {
    const QByteArray whole = fileWithNotes({elftest::buildIdNote(), elftest::packageNote(kStrings)}).build();
    QRandomGenerator random(20240611);
    int found = 0;
    for (int round = 0; round < 5000; ++round) {
        QByteArray damaged = whole;
        const int changes = 1 + int(random.bounded(8));
        for (int i = 0; i < changes; ++i)
            damaged[qsizetype(random.bounded(quint32(damaged.size())))] = char(random.bounded(256));
        if (const std::optional<QByteArray> payload = noteOf(damaged)) {
            platform::versionStringsOfPackageNote(*payload);
            ++found;
        }
    }
    // Most damage misses the header and the note, so most files still give their note.
    QVERIFY(found > 0);
}

void TestElfNote::hostileHeaders_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("found"); // the headers that are whole still lead to the note
    const QByteArray whole = fileWithNotes({elftest::packageNote(kStrings)}).build();
    // Each header is damaged in a file whose other way to the note is closed: no note
    // sections for a damaged segment, no note segment for damaged sections.
    enum Keep { SegmentOnly, SectionsOnly };
    const auto patched = [&whole](qsizetype at, const QByteArray& bytes, Keep keep) {
        QByteArray file = whole;
        file.replace(at, bytes.size(), bytes);
        file.replace(keep == SegmentOnly ? 60 : 56, 2, QByteArray(2, '\0')); // e_shnum or e_phnum 0
        return file;
    };
    const QByteArray ones8(8, '\xff');
    const QByteArray ones4(4, '\xff');
    // 64-bit little-endian layout: e_phoff at 32, e_shoff at 40, e_phnum at 56, e_shnum at 60;
    // the one program header at 64 (p_offset at 72, p_filesz at 96), the notes at 120.
    QTest::newRow("program headers far beyond the file") << patched(32, ones8, SegmentOnly) << false;
    QTest::newRow("65535 program headers") << patched(56, QByteArray(2, '\xff'), SegmentOnly) << true;
    QTest::newRow("note segment beyond the file") << patched(72, ones8, SegmentOnly) << false;
    QTest::newRow("note segment of 16 EiB") << patched(96, ones8, SegmentOnly) << false;
    QTest::newRow("note name size 4 GiB") << patched(120, ones4, SegmentOnly) << false;
    QTest::newRow("note description size 4 GiB") << patched(124, ones4, SegmentOnly) << false;
    QTest::newRow("section headers far beyond the file") << patched(40, ones8, SectionsOnly) << false;
    // With e_shnum 0 the first section's size holds the count: make it huge.
    const qsizetype shoff = qsizetype(qFromLittleEndian<quint64>(whole.constData() + 40));
    QByteArray extended = patched(shoff + 32, ones8, SectionsOnly);
    extended.replace(60, 2, QByteArray(2, '\0'));
    QTest::newRow("2^64 sections") << extended << true;
}

void TestElfNote::hostileHeaders() {
    QFETCH(QByteArray, content);
    QFETCH(bool, found);
    QCOMPARE(noteOf(content).has_value(), found);
}

void TestElfNote::onlyRegularFilesAreRead() {
    TestEnvironment env;
    platform::ElfFileVersionReader reader;
    const QString fifo = env.path(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A pipe nobody writes to would block a reader for ever.
    for (const QString& name :
         {fifo, env.root(), QStringLiteral("/dev/zero"), env.path(QStringLiteral("missing")), QString()})
        QVERIFY2(!reader.versionStrings(name), qPrintable(name));
    const QString file =
        env.writeFile(QStringLiteral("program"), fileWithNotes({elftest::packageNote(kStrings)}).build());
    QVERIFY(reader.versionStrings(file) == std::optional(kStrings));
}

QTEST_GUILESS_MAIN(TestElfNote)
#include "tst_elfnote.moc"
