// The image hand-off cut off: killed (SIGKILL) at every step, refused by a folder it may not
// write, stopped by a full file system. This test program starts copies of itself as the
// process that hands an image off ("--hand-off ..."), through the same HandOffImage the main
// window calls; the variable RAVLEK_KILL_AT names the step at which that copy kills itself.

#include "app/ImageHandOff.h"
#include "platform/WindowBus.h"

#include "support/ScriptedDialogs.h"
#include "support/SmallFileSystem.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using platform::DialogKind;

namespace {

const char* const kHandOffStep = "--hand-off";
const char* const kKillAtVariable = "RAVLEK_KILL_AT";
const QString kNewImage = QStringLiteral("XRAY_NEW_IMAGE");

// Every step of a hand-off, in order; a run that is not killed passes each (the copy in
// slices may pass "mid-copy" more than once).
const QStringList kSteps{QStringLiteral("temporary-created"),
                         QStringLiteral("mid-copy"),
                         QStringLiteral("flushed"),
                         QStringLiteral("linked"),
                         QStringLiteral("before-information"),
                         QStringLiteral("mid-information"),
                         QStringLiteral("after-information"),
                         QStringLiteral("before-host-message")};

// Larger than one slice of the copy (8 MiB), so that there is a middle to kill it in.
constexpr int kImageSize = 9 * 1024 * 1024 + 4321;

// ---- the handing-off process ------------------------------------------------------------

// `--hand-off <source> <outDir> <patient> <host window> <label> <delete source 0/1>`: hands
// the source off as the main window does, the label standing for the image-type list's entry,
// and prints each step it reaches. Message boxes go to the error output (KELVO_UNATTENDED).
int handOffStep(const QStringList& arguments) {
    const QByteArray killAt = qgetenv(kKillAtVariable);
    HandOffHooks hooks;
    hooks.stepReached = [&killAt](const char* step) {
        std::printf("%s\n", step);
        std::fflush(stdout);
        if (killAt == step)
            std::raise(SIGKILL);
    };
    const qint32 patientNr = arguments.value(3).toInt();
    const platform::WindowHandle host = arguments.value(4).toInt();
    const QString label = arguments.value(5);
    const auto describe = [&](const QString& newName) {
        ImageContext context;
        context.scannerLabel = label;
        context.scannerVersion = 810;
        context.workstationName = QStringLiteral("TESTPC");
        context.stationId = QStringLiteral("Room 1");
        return MakeImageInformation(
            newName,
            ReadImageParameters(QStringLiteral("DEVICE Digora Toto\nPIXELSIZEH 0.087\nMAGFACTOR 1.27")),
            context);
    };
    const auto tellHost = [&] {
        platform::WindowBus& bus = platform::windowBus();
        bus.sendMessage(host, bus.registerWindowMessage(kNewImage), patientNr, 0);
    };
    const HandOffResult result = HandOffImage(arguments.value(1), arguments.value(6) == u"1",
                                              arguments.value(2), patientNr, describe, tellHost, hooks);
    return result.success ? 0 : 1;
}

// ---- the checking side ------------------------------------------------------------------

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The working file of one run: the same size every time, different bytes. A block of a
// length that is no power of two, repeated, so that a lost or doubled page would show.
QByteArray workingImage(int run) {
    QByteArray block(4093, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char((i * 131 + run * 71) & 0xff);
    return block.repeated(kImageSize / block.size() + 1).left(kImageSize);
}

// What a file holds, in short, for comparing whole images quickly.
QByteArray digestOf(const QByteArray& content) {
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

// The digests of the images in a folder, each read again only when the file may have changed
// (another file, size or time of change): the folder is checked after every run.
class ImageDigests {
public:
    QByteArray of(const QString& path) {
        struct stat status;
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            return {};
        const QByteArray stamp = QByteArray::number(quint64(status.st_ino)) + ' ' +
                                 QByteArray::number(qint64(status.st_size)) + ' ' +
                                 QByteArray::number(qint64(status.st_mtim.tv_sec)) + '.' +
                                 QByteArray::number(qint64(status.st_mtim.tv_nsec));
        auto known = m_digests.find(path);
        if (known == m_digests.end() || known->first != stamp)
            known = m_digests.insert(path, {stamp, digestOf(contentOf(path))});
        return known->second;
    }

private:
    QHash<QString, std::pair<QByteArray, QByteArray>> m_digests;
};

QStringList entriesOf(const QString& folder) {
    QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Sets a file's time of last change `secondsAgo` into the past.
bool age(const QString& path, int secondsAgo) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The journal program: a window on the bus that notes the patient of every new image.
class Journal {
public:
    Journal() {
        platform::WindowDefinition definition;
        definition.className = QStringLiteral("TJournal");
        definition.title = QStringLiteral("Journal");
        definition.handler = [this](quint32 msg, qint64 wParam, qint64) {
            if (msg == platform::windowBus().registerWindowMessage(kNewImage))
                notices.append(wParam);
            if (onNotice)
                onNotice();
            return qint64(0);
        };
        m_window = platform::windowBus().registerWindow(definition);
    }
    platform::WindowHandle handle() const { return m_window ? m_window->handle() : 0; }

    QList<qint64> notices;
    std::function<void()> onNotice;

private:
    std::unique_ptr<platform::WindowRegistration> m_window;
};

struct Run {
    bool killed = false; // died of SIGKILL
    int exitCode = -1;
    QStringList steps;
    QStringList boxes; // the message boxes it showed, one line each
};

// Hands `source` off in a process of its own, killed at `killAt` unless that is empty. The
// event loop runs meanwhile, so that the journal answers the notice. `asUser` runs it as
// the unprivileged "nobody" when the test runs as root.
Run handOffInProcess(const QString& source, const QString& outDir, qint32 patientNr,
                     platform::WindowHandle host, const QString& label, bool deleteSource,
                     const QString& killAt = QString(), bool asUser = false) {
    QString program = QCoreApplication::applicationFilePath();
    QStringList arguments{QString::fromLatin1(kHandOffStep),
                          source,
                          outDir,
                          QString::number(patientNr),
                          QString::number(host),
                          label,
                          deleteSource ? u"1"_qs : u"0"_qs};
    if (asUser && ::geteuid() == 0) {
        arguments = QStringList{u"--reuid=nobody"_qs, u"--regid=nogroup"_qs, u"--clear-groups"_qs, program} +
                    arguments;
        program = u"setpriv"_qs;
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kKillAtVariable), killAt);
    environment.insert(u"KELVO_UNATTENDED"_qs, u"1"_qs);
    environment.insert(u"LC_ALL"_qs, u"C.UTF-8"_qs);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(30000))
        return run;
    QDeadlineTimer deadline(120000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(5);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.killed = process.exitStatus() == QProcess::CrashExit && process.exitCode() == SIGKILL;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.steps = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    static const QRegularExpression boxLine(QStringLiteral("^\\[[^]]*\\] "));
    run.boxes = QString::fromUtf8(process.readAllStandardError()).split(u'\n').filter(boxLine);
    return run;
}

// What the patient folder must look like whenever nothing is running, whatever was killed:
// each image is byte for byte one run's working file (`workingFiles` holds their digests), no
// run's image is stored twice, no number is used twice, and each information file is whole and
// describes its image. Empty when all holds; the first fault otherwise.
QString checkPatientFolder(const QString& folder, qint32 patientNr, const QList<QByteArray>& workingFiles,
                           ImageDigests& digests) {
    static const QRegularExpression numbered(QStringLiteral("^Rtg(\\d+)_(\\d+)\\.(bmp|xnf)$"));
    QHash<QString, int> runOfNumber; // number -> run whose image carries it
    QStringList informationNumbers;
    for (const QString& name : entriesOf(folder)) {
        const QRegularExpressionMatch match = numbered.match(name);
        if (!match.hasMatch()) {
            if (name.startsWith(QStringLiteral("Rtg"), Qt::CaseInsensitive))
                return QStringLiteral("a stray numbered entry: ") + name;
            continue;
        }
        if (match.captured(1).toInt() != patientNr)
            return QStringLiteral("another patient's name: ") + name;
        if (match.captured(3) == u"xnf") {
            informationNumbers.append(match.captured(2));
            continue;
        }
        const int run = workingFiles.indexOf(digests.of(folder + name));
        if (run < 0)
            return name + QStringLiteral(" is not a whole copy of any working file");
        if (runOfNumber.values().contains(run))
            return QStringLiteral("run %1 stored twice").arg(run);
        runOfNumber.insert(match.captured(2), run);
    }
    for (const QString& number : std::as_const(informationNumbers)) {
        const QString image = folder + QStringLiteral("Rtg%1_%2.bmp").arg(patientNr).arg(number);
        if (!runOfNumber.contains(number))
            return QStringLiteral("an information file without its image: number ") + number;
        const QString expected =
            QStringLiteral("[ImageInformation]\nSourceFile=%1\nkV=0\nmA=0\nmS=0\nManuFacturer=Digora "
                           "Toto\nScannerLabel=run %2\nVersionHardware=810\nResolution=292\nZoom=1.27\n"
                           "VersionDriver=\nStationName=TESTPC: Room 1\n")
                .arg(image)
                .arg(runOfNumber.value(number));
        const QString actual = QString::fromUtf8(contentOf(ImageInformationFileName(image)));
        if (actual != expected)
            return QStringLiteral("information file %1 is not whole:\n%2").arg(number, actual);
    }
    return {};
}

QString copyFailedText(const QString& source, const QString& newName, const QString& mountPoint, int error) {
    return u"An error occurred while copying the file "_qs + source + u" to "_qs + newName + u"!\r\r"_qs +
           u"Check the remaining disc space on "_qs + mountPoint +
           u", also check if You have the neccessary rights to the destination folder!\r\r"_qs +
           QString::fromLocal8Bit(std::strerror(error));
}

// An unattended box as the handing-off process writes it to its error output.
QString warningBoxLine(const QString& text) {
    QString line = text;
    line.replace(u'\r', QStringLiteral("\\r"));
    return QStringLiteral("[Information] ") + line;
}

} // namespace

class TestHandOffInterrupted : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyStepIsPassed();
    void killedAtEveryStep_data();
    void killedAtEveryStep();
    void staleTemporaryFilesOnly();
    void folderWithoutWritePermission_data();
    void folderWithoutWritePermission();
    void fullFileSystem();
    void informationFileOnFullFileSystem();
};

// The kill list below is only worth something if a whole run passes every step on it.
void TestHandOffInterrupted::everyStepIsPassed() {
    TestEnvironment env;
    Journal journal;
    const QString source = env.writeFile(u"xray/lastscannedfile.bmp"_qs, workingImage(0));
    const Run run =
        handOffInProcess(source, env.path(u"xray/"_qs), 4711, journal.handle(), u"run 0"_qs, false);
    QCOMPARE(run.exitCode, 0);
    QStringList distinct = run.steps;
    distinct.removeDuplicates();
    QCOMPARE(distinct, kSteps);
    QCOMPARE(journal.notices, QList<qint64>{4711});
}

void TestHandOffInterrupted::killedAtEveryStep_data() {
    QTest::addColumn<bool>("deleteSource");
    QTest::newRow("working file kept") << false;
    QTest::newRow("working file deleted") << true;
}

// Each step in turn: a run killed there, then a run that goes through. After each, the patient
// folder holds only whole images and whole information files; the next run's hand-off removes
// what the killed one left (once it is old enough to be nobody's copy in progress).
void TestHandOffInterrupted::killedAtEveryStep() {
    QFETCH(bool, deleteSource);
    TestEnvironment env;
    Journal journal;
    const qint32 patient = 4711;
    const QString outDir = env.path(u"xray/"_qs);
    const QString folder = env.makeFolder(u"xray/4711"_qs) + u'/';
    const QString source = outDir + u"lastscannedfile.bmp"_qs;
    QList<QByteArray> workingFiles; // their digests
    ImageDigests digests;
    int stored = 0;
    QString faultAtNotice;
    journal.onNotice = [&] {
        // The host is told only when the image and its information file are complete.
        if (QString fault = checkPatientFolder(folder, patient, workingFiles, digests); !fault.isEmpty())
            faultAtNotice = fault;
        if (!QFile::exists(
                ImageInformationFileName(folder + QStringLiteral("Rtg4711_%1.bmp").arg(stored + 1))))
            faultAtNotice = QStringLiteral("told before the information file of image %1").arg(stored + 1);
    };

    const auto startRun = [&] {
        const QByteArray image = workingImage(int(workingFiles.size()));
        workingFiles.append(digestOf(image));
        QVERIFY(QFile::remove(source) || !QFile::exists(source));
        env.writeFile(u"xray/lastscannedfile.bmp"_qs, image);
    };
    const auto label = [&] { return QStringLiteral("run %1").arg(workingFiles.size() - 1); };
    const auto temporaryFiles = [&] {
        return entriesOf(folder).filter(QRegularExpression(u"^\\.ravlek-tmp-"_qs));
    };

    for (const QString& step : kSteps) {
        startRun();
        const Run killed =
            handOffInProcess(source, outDir, patient, journal.handle(), label(), deleteSource, step);
        QVERIFY2(killed.killed,
                 qPrintable(step + u": not killed; exit "_qs + QString::number(killed.exitCode)));
        QCOMPARE(killed.steps.last(), step);
        QCOMPARE(killed.boxes, QStringList{});
        const QString afterKill = checkPatientFolder(folder, patient, workingFiles, digests);
        QVERIFY2(afterKill.isEmpty(), qPrintable(u"killed at "_qs + step + u": "_qs + afterKill));
        QVERIFY2(faultAtNotice.isEmpty(), qPrintable(faultAtNotice));
        const bool published = kSteps.indexOf(step) >= kSteps.indexOf(u"linked"_qs);
        if (published)
            ++stored;
        // Deleted only after the image is stored, never before.
        QCOMPARE(QFile::exists(source),
                 !deleteSource || kSteps.indexOf(step) < kSteps.indexOf(u"before-information"_qs));
        // What the killed run left is old by the time the next one comes (a copy in progress
        // elsewhere writes to its file all the time).
        for (const QString& name : temporaryFiles())
            QVERIFY(age(folder + name, 3600));

        startRun();
        const QList<qint64> noticesBefore = journal.notices;
        const Run next = handOffInProcess(source, outDir, patient, journal.handle(), label(), deleteSource);
        QCOMPARE(next.exitCode, 0);
        ++stored;
        const QString afterNext = checkPatientFolder(folder, patient, workingFiles, digests);
        QVERIFY2(afterNext.isEmpty(),
                 qPrintable(u"after the run that followed the kill at "_qs + step + u": "_qs + afterNext));
        QVERIFY2(faultAtNotice.isEmpty(), qPrintable(faultAtNotice));
        QCOMPARE(journal.notices, noticesBefore + QList<qint64>{patient});
        QVERIFY2(temporaryFiles().isEmpty(), qPrintable(step + u": left "_qs + temporaryFiles().join(u", ")));
        QCOMPARE(QFile::exists(source), !deleteSource);
        // Every image is there, numbered 1 to `stored` without a gap.
        QCOMPARE(entriesOf(folder).filter(QRegularExpression(u"\\.bmp$"_qs)).size(), stored);
        QVERIFY(QFile::exists(folder + QStringLiteral("Rtg4711_%1.xnf").arg(stored)));
    }
}

// Only our own leftovers go, and only once they are old: a fresh one may be another
// workstation's copy still running, a file of another program is none of our business.
void TestHandOffInterrupted::staleTemporaryFilesOnly() {
    TestEnvironment env;
    ScriptedDialogs noBoxes;
    const QString folder = env.makeFolder(u"xray/12"_qs) + u'/';
    const QStringList kept{u".ravlek-tmp-fresh"_qs, u".ravlek-tmp-young"_qs, u".other-tmp-old"_qs,
                           u"ravlek-tmp-old"_qs, u".ravlek-tmp-folder"_qs};
    const QStringList removed{u".ravlek-tmp-old"_qs, u".ravlek-tmp-old.aB3xYz"_qs};
    for (const QString& name : kept + removed)
        if (name != u".ravlek-tmp-folder")
            env.writeFile(u"xray/12/"_qs + name, "left");
    env.makeFolder(u"xray/12/.ravlek-tmp-folder"_qs);
    QVERIFY(age(folder + u".ravlek-tmp-young"_qs, 60));
    for (const QString& name : {u".other-tmp-old"_qs, u"ravlek-tmp-old"_qs, u".ravlek-tmp-folder"_qs})
        QVERIFY(age(folder + name, 3600));
    for (const QString& name : removed)
        QVERIFY(age(folder + name, 3600));
    // A link with our prefix to a file elsewhere is not ours to judge: both stay.
    const QString elsewhere = env.writeFile(u"elsewhere.bmp"_qs, "not ours");
    QVERIFY(QFile::link(elsewhere, folder + u".ravlek-tmp-link"_qs));

    const QString source = env.writeFile(u"xray/lastscannedfile.bmp"_qs, "image");
    QVERIFY(CopyToPatientFolder(source, false, env.path(u"xray/"_qs), 12).success);

    QStringList expected = kept + QStringList{u".ravlek-tmp-link"_qs, u"Rtg12_1.bmp"_qs};
    expected.sort();
    QCOMPARE(entriesOf(folder), expected);
    QCOMPARE(contentOf(elsewhere), QByteArray("not ours"));
}

void TestHandOffInterrupted::folderWithoutWritePermission_data() {
    QTest::addColumn<bool>("patientFolderExists");
    QTest::newRow("patient folder not writable") << true;
    QTest::newRow("destination not writable, no patient folder") << false;
}

// An ordinary user who may not write the folder: a clear message, nothing left behind, the
// working file kept, the host not told.
void TestHandOffInterrupted::folderWithoutWritePermission() {
    QFETCH(bool, patientFolderExists);
    TestEnvironment env;
    Journal journal;
    const QString outDir = env.makeFolder(u"xray"_qs) + u'/';
    const QString folder = outDir + u"815/"_qs;
    if (patientFolderExists)
        env.makeFolder(u"xray/815"_qs);
    const QByteArray image = workingImage(1);
    const QString source = env.writeFile(u"work/lastscannedfile.bmp"_qs, image);
    // Everyone may read and enter; only the owner (root, or this user) may write.
    const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                          QFile::ReadOther | QFile::ExeOther;
    for (const QString& path : {env.root(), env.path(u"work"_qs), outDir, folder})
        QFile::setPermissions(path,
                              readOnly | (path == env.root() ? QFile::WriteOwner : QFile::Permissions()));
    QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    const Run run =
        handOffInProcess(source, outDir, 815, journal.handle(), u"run 1"_qs, true, QString(), true);
    for (const QString& path : {outDir, folder})
        QFile::setPermissions(path, readOnly | QFile::WriteOwner);

    QCOMPARE(run.exitCode, 1);
    const QString expected = patientFolderExists ? copyFailedText(source, folder + u"Rtg815_1.bmp"_qs,
                                                                  QStorageInfo(folder).rootPath(), EACCES)
                                                 : u"Could not create the directory "_qs + folder + u"!"_qs;
    QCOMPARE(run.boxes, QStringList{warningBoxLine(expected)});
    QCOMPARE(entriesOf(outDir), patientFolderExists ? QStringList{u"815"_qs} : QStringList{});
    QCOMPARE(entriesOf(folder), QStringList{});
    QVERIFY(contentOf(source) == image);
    QCOMPARE(journal.notices, QList<qint64>{});
}

// The disk fills up during the copy: a clear message naming the file system, no part of the
// image anywhere.
void TestHandOffInterrupted::fullFileSystem() {
    TestEnvironment env;
    const QString outDir = env.path(u"small"_qs) + u'/';
    SmallFileSystem small(outDir, "2m");
    if (small.error() != 0)
        QSKIP(qPrintable(small.skipReason()));
    const QByteArray image = workingImage(2).left(3 * 1024 * 1024);
    const QString source = env.writeFile(u"lastscannedfile.bmp"_qs, image);
    const QString folder = outDir + u"9/"_qs;
    ScriptedDialogs dialogs;
    dialogs.expectExactly(DialogKind::Warning,
                          copyFailedText(source, folder + u"Rtg9_1.bmp"_qs, QDir::cleanPath(outDir), ENOSPC));
    bool told = false;
    const HandOffResult result = HandOffImage(
        source, true, outDir, 9, [](const QString& name) { return MakeImageInformation(name, {}, {}); },
        [&] { told = true; });
    QVERIFY(!result.success);
    QVERIFY(!told);
    QCOMPARE(entriesOf(folder), QStringList{});
    QVERIFY(contentOf(source) == image);
    QVERIFY(small.freeBytes() > 2000000); // nothing of the copy holds space
}

// The image takes the last free byte: it is stored, the information file cannot be, and
// none of it is left half-written. The host is told regardless, as it always was.
void TestHandOffInterrupted::informationFileOnFullFileSystem() {
    TestEnvironment env;
    ScriptedDialogs noBoxes;
    const QString outDir = env.path(u"small"_qs) + u'/';
    SmallFileSystem small(outDir, "1m");
    if (small.error() != 0)
        QSKIP(qPrintable(small.skipReason()));
    const QString folder = outDir + u"9/"_qs;
    QVERIFY(QDir().mkpath(folder));
    const QByteArray image = workingImage(3).left(int(small.freeBytes()));
    const QString source = env.writeFile(u"lastscannedfile.bmp"_qs, image);
    bool told = false;
    const HandOffResult result = HandOffImage(
        source, false, outDir, 9, [](const QString& name) { return MakeImageInformation(name, {}, {}); },
        [&] { told = true; });
    QVERIFY(result.success);
    QVERIFY(told);
    QCOMPARE(entriesOf(folder), QStringList{u"Rtg9_1.bmp"_qs});
    QVERIFY(contentOf(folder + u"Rtg9_1.bmp"_qs) == image);
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == QLatin1String(kHandOffStep))
        return handOffStep(arguments.mid(1));
    TestHandOffInterrupted test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_handoffinterrupted.moc"
