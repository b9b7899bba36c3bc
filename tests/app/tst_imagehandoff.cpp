#include "app/ImageHandOff.h"
#include "platform/FileSystem.h"
#include "tools/KelvoSettings.h"
#include "tools/MessageBoxes.h"

#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStorageInfo>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

using platform::DialogButton;
using platform::DialogKind;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Distinct bytes, so that a copy that drops or repeats a block shows.
QByteArray pattern(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 4096) & 0xff);
    return bytes;
}

QStringList entriesOf(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString copyFailedText(const QString& source, const QString& newName, const QString& folder, int error) {
    return u"An error occurred while copying the file "_qs + source + u" to "_qs + newName + u"!\r\r"_qs +
           u"Check the remaining disc space on "_qs + QStorageInfo(folder).rootPath() +
           u", also check if You have the neccessary rights to the destination folder!\r\r"_qs +
           QString::fromLocal8Bit(std::strerror(error));
}

// Makes every write beyond `bytes` fail with EFBIG for its lifetime: a full disk that
// root cannot write past either.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

class TestImageHandOff : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- numbering ----

    void runningNumber_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<qint64>("next");
        const QStringList none;
        QTest::newRow("empty folder") << none << none << qint64(1);
        QTest::newRow("highest of all extensions")
            << QStringList{u"Rtg123_4.bmp"_qs, u"Rtg123_4.xnf"_qs, u"Rtg123_12.dcm"_qs} << none << qint64(13);
        QTest::newRow("leftover of another tool") << QStringList{u"Rtg123_13.bmp"_qs} << none << qint64(14);
        QTest::newRow("word instead of a number") << QStringList{u"Rtg123_old.bmp"_qs} << none << qint64(1);
        QTest::newRow("letter case does not count")
            << QStringList{u"rtg123_7.bmp"_qs, u"RTG123_9.DCM"_qs} << none << qint64(10);
        QTest::newRow("sub-folders count")
            << QStringList{u"Rtg123_2.bmp"_qs} << QStringList{u"Rtg123_20.d"_qs} << qint64(21);
        QTest::newRow("any patient's images count") << QStringList{u"Rtg456_30.bmp"_qs} << none << qint64(31);
        QTest::newRow("leading zeros") << QStringList{u"Rtg123_0007.bmp"_qs} << none << qint64(8);
        QTest::newRow("first dot ends the number") << QStringList{u"Rtg123_5.tar.gz"_qs} << none << qint64(6);
        QTest::newRow("no dot") << QStringList{u"Rtg123_5"_qs} << none << qint64(1);
        QTest::newRow("dot before underscore") << QStringList{u"Rtg1.2_7.bmp"_qs} << none << qint64(1);
        QTest::newRow("empty number") << QStringList{u"Rtg123_.bmp"_qs} << none << qint64(1);
        QTest::newRow("first underscore starts the number")
            << QStringList{u"Rtg123__5.bmp"_qs} << none << qint64(1);
        QTest::newRow("plus sign") << QStringList{u"Rtg123_+5.bmp"_qs} << none << qint64(6);
        QTest::newRow("other letters in the name") << QStringList{u"Rtgåäö_5.bmp"_qs} << none << qint64(6);
        QTest::newRow("only ASCII digits") << QStringList{u"Rtg123_\uFF15.bmp"_qs} << none << qint64(1);
        QTest::newRow("negative number") << QStringList{u"Rtg123_-3.bmp"_qs} << none << qint64(1);
        QTest::newRow("not beginning with Rtg")
            << QStringList{u"XRtg123_50.bmp"_qs, u"lastscannedfile.bmp"_qs} << none << qint64(1);
        QTest::newRow("temporary names never count")
            << QStringList{kTemporaryPrefix + u"Rtg123_40.bmp"_qs} << none << qint64(1);
        QTest::newRow("highest 32-bit number does not wrap")
            << QStringList{u"Rtg123_2147483647.bmp"_qs} << none << qint64(2147483648);
        QTest::newRow("beyond 32 bits counts as 0")
            << QStringList{u"Rtg123_2147483648.bmp"_qs, u"Rtg123_3.bmp"_qs} << none << qint64(4);
    }
    void runningNumber() {
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        TestEnvironment env;
        const QString folder = env.makeFolder(u"out/123"_qs) + u"/"_qs;
        for (const QString& name : files)
            env.writeFile(u"out/123/"_qs + name, "x");
        for (const QString& name : folders)
            env.makeFolder(u"out/123/"_qs + name);
        QTEST(NextRunningNumber(folder), "next");
    }

    void runningNumberOfMissingFolder() {
        TestEnvironment env;
        QCOMPARE(NextRunningNumber(env.path(u"nowhere/"_qs)), qint64(1));
    }

    void folderListing() {
        TestEnvironment env;
        env.makeFolder(u"f/Rtg1_2.d"_qs);
        env.writeFile(u"f/.hidden"_qs, "x");
        env.writeFile(u"f/Rtg1_1.bmp"_qs, "x");
        env.writeFile(u"f/Bild å.bmp"_qs, "x");
        QStringList names = platform::folderEntryNames(env.path(u"f"_qs));
        names.sort();
        QCOMPARE(names, (QStringList{u".hidden"_qs, u"Bild å.bmp"_qs, u"Rtg1_1.bmp"_qs, u"Rtg1_2.d"_qs}));
        QVERIFY(platform::folderEntryNames(env.path(u"missing"_qs)).isEmpty());
    }

    void patientFolder_data() {
        QTest::addColumn<QString>("outDir");
        QTest::addColumn<int>("patientNr");
        QTest::addColumn<QString>("folder");
        QTest::newRow("usual") << u"/srv/xray/"_qs << 123 << u"/srv/xray/123/"_qs;
        QTest::newRow("without trailing delimiter") << u"/srv/Xray"_qs << 5 << u"/srv/Xray5/"_qs;
        QTest::newRow("no patient") << u"/srv/xray/"_qs << 0 << u"/srv/xray/0/"_qs;
    }
    void patientFolder() {
        QFETCH(QString, outDir);
        QFETCH(int, patientNr);
        QTEST(PatientFolder(outDir, patientNr), "folder");
    }

    // ---- copying ----

    void firstImageCreatesFolder() {
        TestEnvironment env;
        ScriptedDialogs noBoxes;
        const QByteArray image = pattern(3 * 1024 * 1024 + 17);
        const QString source = env.writeFile(u"out/lastscannedfile.bmp"_qs, image);
        const QString outDir = env.path(u"out/"_qs);

        const HandOffResult result = CopyToPatientFolder(source, false, outDir, 123);

        QVERIFY(result.success);
        QCOMPARE(result.newName, outDir + u"123/Rtg123_1.bmp"_qs);
        QVERIFY(readAll(result.newName) == image);
        QVERIFY(QFile::exists(source));
        QCOMPARE(entriesOf(outDir + u"123"_qs), QStringList{u"Rtg123_1.bmp"_qs});
    }

    void nextNumberAndDeleteSource_data() {
        QTest::addColumn<bool>("deleteSource");
        QTest::newRow("keep source") << false;
        QTest::newRow("delete source") << true;
    }
    void nextNumberAndDeleteSource() {
        QFETCH(bool, deleteSource);
        TestEnvironment env;
        ScriptedDialogs noBoxes;
        env.writeFile(u"out/7/Rtg7_4.bmp"_qs, "old");
        env.writeFile(u"out/7/Rtg7_4.xnf"_qs, "old");
        env.writeFile(u"out/7/Rtg7_12.dcm"_qs, "old");
        const QString source = env.writeFile(u"out/lastscannedfile.dcm"_qs, "DICM image");

        const HandOffResult result = CopyToPatientFolder(source, deleteSource, env.path(u"out/"_qs), 7);

        QVERIFY(result.success);
        QCOMPARE(result.newName, env.path(u"out/7/Rtg7_13.dcm"_qs));
        QCOMPARE(readAll(result.newName), QByteArray("DICM image"));
        QCOMPARE(QFile::exists(source), !deleteSource);
        QCOMPARE(readAll(env.path(u"out/7/Rtg7_12.dcm"_qs)), QByteArray("old"));
    }

    void sourceWithoutExtension() {
        TestEnvironment env;
        ScriptedDialogs noBoxes;
        const QString source = env.writeFile(u"work.d/lastscannedfile"_qs, "raw");
        const HandOffResult result = CopyToPatientFolder(source, false, env.path(u"out/"_qs), 9);
        QVERIFY(result.success);
        QCOMPARE(result.newName, env.path(u"out/9/Rtg9_1"_qs));
    }

    void folderCannotBeCreated_data() {
        QTest::addColumn<QString>("outDirRelative");
        QTest::addColumn<QString>("blockingFile");
        // Root may write anywhere, but not below a plain file.
        QTest::newRow("destination is a file") << u"plain/"_qs << u"plain"_qs;
        QTest::newRow("patient folder is a file") << u"out/"_qs << u"out/55"_qs;
    }
    void folderCannotBeCreated() {
        QFETCH(QString, outDirRelative);
        QFETCH(QString, blockingFile);
        TestEnvironment env;
        env.writeFile(blockingFile, "not a folder");
        const QString source = env.writeFile(u"lastscannedfile.bmp"_qs, "image");
        const QString folder = env.path(outDirRelative) + u"55/"_qs;
        ScriptedDialogs dialogs;
        dialogs.expectExactly(DialogKind::Warning, u"Could not create the directory "_qs + folder + u"!"_qs);

        const HandOffResult result = CopyToPatientFolder(source, true, env.path(outDirRelative), 55);

        QVERIFY(!result.success);
        QVERIFY(QFile::exists(source));
        QCOMPARE(dialogs.shown().first().title, u"Information"_qs);
    }

    void missingSourceIsReported() {
        TestEnvironment env;
        const QString source = env.path(u"out/lastscannedfile.bmp"_qs);
        const QString folder = env.path(u"out/3/"_qs);
        env.writeFile(u"out/3/Rtg3_1.bmp"_qs, "first");
        ScriptedDialogs dialogs;
        dialogs.expectExactly(DialogKind::Warning,
                              copyFailedText(source, folder + u"Rtg3_2.bmp"_qs, folder, ENOENT));

        const HandOffResult result = CopyToPatientFolder(source, true, env.path(u"out/"_qs), 3);

        QVERIFY(!result.success);
        QCOMPARE(entriesOf(folder), QStringList{u"Rtg3_1.bmp"_qs});
    }

    void diskFullLeavesNothingBehind() {
        TestEnvironment env;
        const QByteArray image = pattern(3 * 1024 * 1024);
        const QString source = env.writeFile(u"out/lastscannedfile.raw"_qs, image);
        const QString folder = env.makeFolder(u"out/8"_qs) + u"/"_qs;
        ScriptedDialogs dialogs;
        dialogs.expectExactly(DialogKind::Warning,
                              copyFailedText(source, folder + u"Rtg8_1.raw"_qs, folder, EFBIG));

        HandOffResult result;
        {
            FileSizeLimit limit(1024 * 1024);
            result = CopyToPatientFolder(source, true, env.path(u"out/"_qs), 8);
        }

        QVERIFY(!result.success);
        QCOMPARE(entriesOf(folder), QStringList{});
        QVERIFY(readAll(source) == image);
    }

    void numberTakenMeanwhileMovesOn() {
        TestEnvironment env;
        ScriptedDialogs noBoxes;
        const QByteArray image = pattern(200000);
        const QString source = env.writeFile(u"out/lastscannedfile.bmp"_qs, image);
        env.writeFile(u"out/123/Rtg123_4.bmp"_qs, "four");
        QStringList chosen;
        HandOffHooks hooks;
        hooks.beforePublish = [&](const QString& name) {
            // Another workstation stores its image under this very name first, twice.
            chosen.append(name);
            if (chosen.size() <= 2)
                env.writeFile(QDir(env.root()).relativeFilePath(name), "theirs");
        };

        const HandOffResult result = CopyToPatientFolder(source, false, env.path(u"out/"_qs), 123, hooks);

        QVERIFY(result.success);
        const QString folder = env.path(u"out/123/"_qs);
        QCOMPARE(chosen, (QStringList{folder + u"Rtg123_5.bmp"_qs, folder + u"Rtg123_6.bmp"_qs,
                                      folder + u"Rtg123_7.bmp"_qs}));
        QCOMPARE(result.newName, folder + u"Rtg123_7.bmp"_qs);
        QVERIFY(readAll(result.newName) == image);
        QCOMPARE(readAll(folder + u"Rtg123_5.bmp"_qs), QByteArray("theirs"));
        QCOMPARE(readAll(folder + u"Rtg123_6.bmp"_qs), QByteArray("theirs"));
        QVERIFY(QFile::exists(source));
        QCOMPARE(entriesOf(folder), (QStringList{u"Rtg123_4.bmp"_qs, u"Rtg123_5.bmp"_qs, u"Rtg123_6.bmp"_qs,
                                                 u"Rtg123_7.bmp"_qs}));
    }

    void publishingNeverReplaces() {
        TestEnvironment env;
        const QString temporary = env.writeFile(u"f/.ravlek-tmp-1"_qs, "new");
        const QString taken = env.writeFile(u"f/Rtg1_1.bmp"_qs, "existing");

        const platform::FileResult refused = platform::publishWithoutReplacing(temporary, taken);
        QCOMPARE(refused.error, EEXIST);
        QCOMPARE(readAll(taken), QByteArray("existing"));
        QCOMPARE(readAll(temporary), QByteArray("new"));

        const QString free = env.path(u"f/Rtg1_2.bmp"_qs);
        QVERIFY(platform::publishWithoutReplacing(temporary, free).ok());
        QCOMPARE(readAll(free), QByteArray("new"));
        QVERIFY(!QFile::exists(temporary));
    }

    // ---- image parameters ----

    void parameters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("imageType");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<double>("magnification");

        QTest::newRow("complete, CR LF")
            << u"DEVICE Soredex\r\nIMAGETYPE Intraoral\r\nPIXELSIZEH 0.085\r\nMAGFACTOR 1.25\r\n"_qs
            << u"Soredex"_qs << u"Intraoral"_qs << 299 << 1.25;
        QTest::newRow("LF only") << u"DEVICE A\nIMAGETYPE B\nPIXELSIZEH 0.1\nMAGFACTOR 2"_qs << u"A"_qs
                                 << u"B"_qs << 254 << 2.0;
        QTest::newRow("CR only") << u"DEVICE A\rPIXELSIZEH 0.1"_qs << u"A"_qs << QString() << 254 << 0.0;
        QTest::newRow("nothing") << QString() << QString() << QString() << 0 << 0.0;
        QTest::newRow("garbage lines")
            << u"hello\n\n\x01\x02\nDEVICE\nPIXELSIZEH\n"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("key anywhere, value at a fixed place")
            << u"XDEVICE ABC"_qs << u"E ABC"_qs << QString() << 0 << 0.0;
        QTest::newRow("DEVICE tested before IMAGETYPE")
            << u"IMAGETYPE DEVICE X"_qs << u"YPE DEVICE X"_qs << QString() << 0 << 0.0;
        QTest::newRow("first key of the line only")
            << u"DEVICE IMAGETYPE X"_qs << u"IMAGETYPE X"_qs << QString() << 0 << 0.0;
        QTest::newRow("letter case counts")
            << u"device A\nPixelSizeH 0.1"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("blanks and control characters trimmed")
            << u"DEVICE \t Soredex Oy \x01\x1f\nIMAGETYPE   \t"_qs << u"Soredex Oy"_qs << QString() << 0
            << 0.0;
        // Such characters would make the information file unreadable for every reader.
        QTest::newRow("control characters inside a value become blanks")
            << QStringLiteral("DEVICE Sore\u0000dex\x01Oy\nIMAGETYPE PS\x1bP") << u"Sore dex Oy"_qs
            << u"PS P"_qs << 0 << 0.0;
        QTest::newRow("half a surrogate pair becomes a replacement character")
            << u"DEVICE A"_qs + QChar(0xD800) + u"B\nIMAGETYPE "_qs + QChar(0xDC00) + QChar(0xD83D) +
                   QChar(0xDE00)
            << u"A\uFFFDB"_qs << u"\uFFFD\U0001F600"_qs << 0 << 0.0;
        // The value begins at a fixed place, which may lie between the halves of a pair.
        QTest::newRow("value begins inside a surrogate pair")
            << u"XXXXX\U0001F600DEVICE A"_qs << u"\uFFFDDEVICE A"_qs << QString() << 0 << 0.0;
        QTest::newRow("later line overrides")
            << u"DEVICE A\nPIXELSIZEH 0.1\nDEVICE B\nPIXELSIZEH 0.085\nMAGFACTOR 3\nMAGFACTOR 1.5"_qs
            << u"B"_qs << QString() << 299 << 1.5;
        QTest::newRow("later unreadable pixel size overrides")
            << u"PIXELSIZEH 0.085\nPIXELSIZEH x"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("decimal comma does not convert")
            << u"PIXELSIZEH 0,085\nMAGFACTOR 1,25"_qs << QString() << QString() << 0 << 1.0;
        QTest::newRow("thousands separator does not convert")
            << u"PIXELSIZEH 1,000.5"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("exponent") << u"PIXELSIZEH 8.5E-2\nMAGFACTOR +125e-2"_qs << QString() << QString()
                                  << 299 << 1.25;
        QTest::newRow("point without digits around it")
            << u"PIXELSIZEH .1\nMAGFACTOR 2."_qs << QString() << QString() << 254 << 2.0;
        QTest::newRow("zero") << u"PIXELSIZEH 0\nMAGFACTOR 0"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("garbage") << u"PIXELSIZEH abc\nMAGFACTOR abc"_qs << QString() << QString() << 0 << 1.0;
        QTest::newRow("not a number words")
            << u"PIXELSIZEH inf\nMAGFACTOR nan"_qs << QString() << QString() << 0 << 1.0;
        QTest::newRow("tiny pixel, resolution beyond 32 bits")
            << u"PIXELSIZEH 1e-20"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("beyond extended range")
            << u"PIXELSIZEH 1e-99999\nMAGFACTOR 1e99999"_qs << QString() << QString() << 0 << 1.0;
        QTest::newRow("huge pixel rounds to 0")
            << u"PIXELSIZEH 1e300"_qs << QString() << QString() << 0 << 0.0;
        QTest::newRow("negative pixel size")
            << u"PIXELSIZEH -0.085"_qs << QString() << QString() << -299 << 0.0;
        QTest::newRow("blank inside number") << u"MAGFACTOR 1 .5"_qs << QString() << QString() << 0 << 1.0;
    }
    void parameters() {
        QFETCH(QString, text);
        const ImageParameters parameters = ReadImageParameters(text);
        QTEST(parameters.manufacturer, "manufacturer");
        QTEST(parameters.imageType, "imageType");
        QTEST(int(parameters.resolution), "resolution");
        QTEST(double(parameters.magnification), "magnification");
    }

    void resolution_data() {
        QTest::addColumn<QString>("pixelSize");
        QTest::addColumn<int>("resolution");
        QTest::newRow("0.085 is 298.82") << u"0.085"_qs << 299;
        QTest::newRow("exact") << u"0.0254"_qs << 1000;
        QTest::newRow("2.5 to even") << u"10.16"_qs << 2;
        QTest::newRow("12.5 to even") << u"2.032"_qs << 12;
        QTest::newRow("312.5 to even") << u"0.08128"_qs << 312;
        QTest::newRow("1562.5 to even") << u"0.016256"_qs << 1562;
        QTest::newRow("just below a half") << u"50.8"_qs << 0;
        QTest::newRow("just above a half") << u"0.4064"_qs << 63;
        QTest::newRow("largest") << u"0.0000000118277967031"_qs << 2147483647;
        QTest::newRow("past the largest") << u"0.0000000118277967"_qs << 0;
    }
    void resolution() {
        QFETCH(QString, pixelSize);
        long double value = 0;
        QVERIFY(StrictToExtended(pixelSize, &value));
        QTEST(int(ResolutionFromPixelSize(value)), "resolution");
    }

    void zoomText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("point");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << 1.25 << u","_qs << u"1,25"_qs;
        QTest::newRow("point") << 1.25 << u"."_qs << u"1.25"_qs;
        QTest::newRow("whole") << 1.0 << u","_qs << u"1"_qs;
        QTest::newRow("fifteen digits") << 1.0 / 3 << u","_qs << u"0,333333333333333"_qs;
        QTest::newRow("shortest of 0.1") << 0.1 << u","_qs << u"0,1"_qs;
        QTest::newRow("negative") << -2.5 << u","_qs << u"-2,5"_qs;
        QTest::newRow("fifteen integer digits") << 123456789012345.0 << u","_qs << u"123456789012345"_qs;
        QTest::newRow("sixteen integer digits") << 1234567890123456.0 << u","_qs << u"1,23456789012346E15"_qs;
        QTest::newRow("large") << 1e20 << u","_qs << u"1E20"_qs;
        QTest::newRow("small") << 1.5e-7 << u","_qs << u"1,5E-7"_qs;
    }
    void zoomText() {
        QFETCH(double, value);
        QFETCH(QString, point);
        QTEST(FormatZoom(static_cast<long double>(value), point.at(0)), "text");
    }

    // main() starts the test under a Swedish locale.
    void zoomFollowsUserLocale() {
        QCOMPARE(QLocale::system().decimalPoint(), u","_qs);
        QCOMPARE(FormatZoom(1.25L), u"1,25"_qs);
        // Reading the parameters is not swayed by the locale.
        QCOMPARE(ReadImageParameters(u"PIXELSIZEH 0.085"_qs).resolution, 299);
    }

    // ---- information file ----

    void informationFileName_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("information");
        QTest::newRow("usual") << u"/srv/x/5/Rtg5_3.bmp"_qs << u"/srv/x/5/Rtg5_3.xnf"_qs;
        QTest::newRow("no extension") << u"/srv/x.y/5/Rtg5_3"_qs << u"/srv/x.y/5/Rtg5_3.xnf"_qs;
    }
    void informationFileName() {
        QFETCH(QString, image);
        QTEST(ImageInformationFileName(image), "information");
    }

    void informationValues_data() {
        QTest::addColumn<QString>("parameterText");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("zoom");
        QTest::newRow("from the image") << u"PIXELSIZEH 0.085\nMAGFACTOR 1.25"_qs << u"299"_qs << u"1,25"_qs;
        QTest::newRow("no lines: host's values") << QString() << u"300"_qs << u"1.1"_qs;
        QTest::newRow("zeros: host's values") << u"PIXELSIZEH 0\nMAGFACTOR 0"_qs << u"300"_qs << u"1.1"_qs;
        QTest::newRow("decimal comma: host's resolution") << u"PIXELSIZEH 0,085"_qs << u"300"_qs << u"1.1"_qs;
        QTest::newRow("unreadable magnification") << u"MAGFACTOR x"_qs << u"300"_qs << u"1"_qs;
    }
    void informationValues() {
        QFETCH(QString, parameterText);
        ImageContext context;
        context.scannerLabel = u"Digora Optime - CONNECTED"_qs;
        context.scannerVersion = -7;
        context.dpiText = u"300"_qs;
        context.zoomText = u"1.1"_qs;
        context.workstationName = u"RUM3"_qs;
        context.stationId = u"OPT-1"_qs;
        const ImageInformation information = MakeImageInformation(
            u"/x/1/Rtg1_1.bmp"_qs, ReadImageParameters(u"DEVICE Soredex\nIMAGETYPE PSP\n"_qs + parameterText),
            context);
        QCOMPARE(information.SourceFile, u"/x/1/Rtg1_1.bmp"_qs);
        QCOMPARE(information.kV, u"0"_qs);
        QCOMPARE(information.ManuFacturer, u"Soredex"_qs);
        QCOMPARE(information.ScannerLabel, u"Digora Optime - CONNECTED"_qs);
        QCOMPARE(information.VersionHardware, u"-7"_qs);
        QTEST(information.Resolution, "resolution");
        QTEST(information.Zoom, "zoom");
        QCOMPARE(information.VersionDriver, u"PSP"_qs);
        QCOMPARE(information.StationName, u"RUM3: OPT-1"_qs);
    }

    void informationFileKeysInOrder() {
        TestEnvironment env;
        const QString fileName = env.path(u"Rtg1_1.xnf"_qs);
        ImageInformation information;
        information.SourceFile = env.path(u"Rtg1_1.bmp"_qs);
        information.kV = information.mA = information.mS = u"0"_qs;
        information.ScannerLabel = u"Digora Toto - Lånad"_qs;
        information.VersionHardware = u"3"_qs;
        information.Resolution = u"299"_qs;
        information.Zoom = u"1,25"_qs;
        information.StationName = u"RUM3: "_qs;

        WriteImageInformation(fileName, information);

        QStringList lines = QString::fromUtf8(readAll(fileName)).split(u'\n');
        for (QString& line : lines)
            line = line.trimmed();
        lines.removeAll(QString());
        QCOMPARE(lines, (QStringList{u"[ImageInformation]"_qs, u"SourceFile="_qs + information.SourceFile,
                                     u"kV=0"_qs, u"mA=0"_qs, u"mS=0"_qs, u"ManuFacturer="_qs,
                                     u"ScannerLabel=Digora Toto - Lånad"_qs, u"VersionHardware=3"_qs,
                                     u"Resolution=299"_qs, u"Zoom=1,25"_qs, u"VersionDriver="_qs,
                                     u"StationName=RUM3:"_qs}));
    }

    // ---- working file ----

    void imageFormat_data() {
        QTest::addColumn<ImageDepth>("depth");
        QTest::addColumn<ImageFileType>("fileType");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("workingFile");
        QTest::newRow("8 bits DIB") << ImageDepth::Bits8 << ImageFileType::DIB << 524290
                                    << u"/srv/x/lastscannedfile.bmp"_qs;
        QTest::newRow("8 bits RAW") << ImageDepth::Bits8 << ImageFileType::RAW << 524289
                                    << u"/srv/x/lastscannedfile.raw"_qs;
        QTest::newRow("16 bits DCM is 12 bits")
            << ImageDepth::Bits16 << ImageFileType::DCM << 786435 << u"/srv/x/lastscannedfile.dcm"_qs;
        QTest::newRow("16 bits DIB") << ImageDepth::Bits16 << ImageFileType::DIB << 786434
                                     << u"/srv/x/lastscannedfile.bmp"_qs;
    }
    void imageFormat() {
        QFETCH(ImageDepth, depth);
        QFETCH(ImageFileType, fileType);
        QTEST(int(ImageFormatValue(depth, fileType)), "format");
        QTEST(WorkingFileName(u"/srv/x/"_qs, fileType), "workingFile");
    }

    // ---- one-shot mode ----

    void oneShot_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("closes");
        QTest::newRow("0") << u"0"_qs << false;
        QTest::newRow("00") << u"00"_qs << false;
        QTest::newRow("0.0") << u"0.0"_qs << false;
        QTest::newRow("False") << u"False"_qs << false;
        QTest::newRow("FALSE") << u"FALSE"_qs << false;
        QTest::newRow("-1") << u"-1"_qs << true;
        QTest::newRow("1") << u"1"_qs << true;
        QTest::newRow("true") << u"true"_qs << true;
        QTest::newRow("missing marker") << kMissingSetting << true;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("other text") << u"nej"_qs << true;
    }
    void oneShot() {
        QFETCH(QString, stored);
        QTEST(OneShotClosesWindow(stored), "closes");
    }

    void oneShotFromSettings() {
        TestEnvironment env;
        QVERIFY(OneShotClosesWindow());
        WriteSetting(u"XRay"_qs, u"TotoOneShot"_qs, u"0"_qs);
        QVERIFY(!OneShotClosesWindow());
        WriteSetting(u"XRay"_qs, u"TotoOneShot"_qs, u"-1"_qs);
        QVERIFY(OneShotClosesWindow());
    }

    // ---- message boxes ----

    void warningBox() {
        ScriptedDialogs dialogs;
        dialogs.expectExactly(DialogKind::Warning, u"Line\rnext"_qs);
        WarningBox(u"Line\rnext"_qs);
        const platform::DialogRequest& shown = dialogs.shown().first();
        QCOMPARE(shown.title, u"Information"_qs);
        QCOMPARE(shown.buttons, QList<DialogButton>{DialogButton::Ok});
    }

    void questionBox_data() {
        QTest::addColumn<DialogButton>("answer");
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << DialogButton::Yes << true;
        QTest::newRow("no") << DialogButton::No << false;
        QTest::newRow("closed") << DialogButton::None << false;
    }
    void questionBox() {
        QFETCH(DialogButton, answer);
        ScriptedDialogs dialogs;
        dialogs.expectExactly(DialogKind::Question, u"Delete?"_qs, answer);
        QTEST(QuestionBox(u"Delete?"_qs), "yes");
        const platform::DialogRequest& shown = dialogs.shown().first();
        QCOMPARE(shown.title, u"Fråga"_qs);
        QCOMPARE(shown.buttons, (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
    }
};

int main(int argc, char* argv[]) {
    // A user whose locale writes decimal commas: the image parameters must still read points,
    // and the zoom is written the user's way.
    qputenv("LC_ALL", "sv_SE.UTF-8");
    QCoreApplication app(argc, argv);
    TestImageHandOff test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_imagehandoff.moc"
