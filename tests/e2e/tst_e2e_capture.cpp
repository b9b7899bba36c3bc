// The main job end to end, with the real programs as processes: ravlek-host starts ravlek for a
// patient, the simulated device exposes by itself, ravlek stores the image with its information
// file, tells the host and closes (one-shot). Also the command-line faults a journal program can
// make, seen as the user sees them, and a second start while a copy runs.

#include "E2eInstallation.h"
#include "app/CommandLine.h"
#include "database/KelvoSchema.h"
#include "tools/KelvoSettings.h"

#include <QDirIterator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QtTest>

using namespace e2e;

namespace {

const QString kPatient = QStringLiteral("4711");
const QStringList kInformationKeys{QStringLiteral("SourceFile"),
                                   QStringLiteral("kV"),
                                   QStringLiteral("mA"),
                                   QStringLiteral("mS"),
                                   QStringLiteral("ManuFacturer"),
                                   QStringLiteral("ScannerLabel"),
                                   QStringLiteral("VersionHardware"),
                                   QStringLiteral("Resolution"),
                                   QStringLiteral("Zoom"),
                                   QStringLiteral("VersionDriver"),
                                   QStringLiteral("StationName")};

// The embedded default's database ($XDG_DATA_HOME/kelvo/ravlek.sqlite), opened by the test
// itself to put a register row in place before ravlek starts.
class EmbeddedDatabase {
public:
    EmbeddedDatabase() {
        const QString file = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/kelvo/ravlek.sqlite");
        QDir().mkpath(QFileInfo(file).absolutePath());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.open();
    }
    ~EmbeddedDatabase() {
        QSqlDatabase::database(m_name).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    // Runs one statement; empty when it succeeded, else the engine's text.
    QString exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery query(QSqlDatabase::database(m_name));
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return query.exec() ? QString() : query.lastError().text();
    }
    int count(const QString& table) {
        QSqlQuery query(QSqlDatabase::database(m_name));
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table) && query.next()
                   ? query.value(0).toInt()
                   : -1;
    }

private:
    const QString m_name = QStringLiteral("e2e-embedded");
};

// "key=value" lines of an information file as (key, value) pairs, after its section line.
QList<QPair<QString, QString>> informationEntries(const QStringList& lines) {
    QList<QPair<QString, QString>> entries;
    for (const QString& line : lines.mid(1))
        entries.append({line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1)});
    return entries;
}

// The folder and everything below it that users other than the owner may write.
QStringList writableByOthers(const QString& folder) {
    QStringList writable;
    const auto byOthers = QFile::WriteGroup | QFile::WriteOther;
    if (QFileInfo(folder).permissions() & byOthers)
        writable.append(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        if (!entry.isSymLink() && (entry.permissions() & byOthers))
            writable.append(entry.filePath());
    }
    return writable;
}

} // namespace

class TestE2eCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void commandLine_data();
    void commandLine();
    void secondStart_data();
    void secondStart();
};

void TestE2eCapture::initTestCase() {
    for (const QString& program : {QStringLiteral("ravlek"), QStringLiteral("ravlek-host"),
                                   QStringLiteral("ravlek-sim"), QStringLiteral("ravlek-reg")})
        QVERIFY2(QFileInfo(programPath(program)).isExecutable(),
                 qPrintable(programPath(program) + QStringLiteral(" is missing (RAVLEK_BIN_DIR)")));
}

void TestE2eCapture::roundTrip_data() {
    QTest::addColumn<QString>("connectTo");
    QTest::addColumn<QString>("device");   // ravlek-sim's name of the device that exposes
    QTest::addColumn<bool>("networkMode"); // a type-4 device reached through the driver's "ScIP"
    QTest::addColumn<QString>("fileType");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<bool>("deleteSource");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("values"); // ManuFacturer, VersionHardware, Resolution, Zoom, VersionDriver
    QTest::addColumn<QString>("labelStart");
    QTest::addColumn<QString>("stationName");

    const QStringList toto{QStringLiteral("Digora Toto"), QStringLiteral("810"), QStringLiteral("292"),
                           QStringLiteral("1.27"), QStringLiteral("PANORAMIC")};
    const QString totoLabel = QStringLiteral("Digora Toto: ");
    QTest::newRow("Digora Toto, DIB 8 bits")
        << QStringLiteral("¤8¤") << QStringLiteral("8") << false << QStringLiteral("DIB")
        << QStringLiteral("8") << false << QStringLiteral("bmp") << toto << totoLabel
        << QStringLiteral("TESTPC: ");
    QTest::newRow("Digora Toto, DICOM 16 bits")
        << QStringLiteral("¤8¤") << QStringLiteral("8") << false << QStringLiteral("DCM")
        << QStringLiteral("16") << false << QStringLiteral("dcm") << toto << totoLabel
        << QStringLiteral("TESTPC: ");
    QTest::newRow("Digora Toto, RAW 16 bits, source deleted")
        << QStringLiteral("¤8¤") << QStringLiteral("8") << false << QStringLiteral("RAW")
        << QStringLiteral("16") << true << QStringLiteral("raw") << toto << totoLabel
        << QStringLiteral("TESTPC: ");
    QTest::newRow("registered OPTIME in network mode")
        << QStringLiteral("¤4¤") << QStringLiteral("optime-2") << true << QStringLiteral("DIB")
        << QStringLiteral("8") << false << QStringLiteral("bmp")
        << QStringList{QStringLiteral("Digora OPTIME"), QStringLiteral("410"), QStringLiteral("397"),
                       QStringLiteral("1"), QStringLiteral("INTRAORAL")}
        << QStringLiteral("Digora OPTIME - Room 2: ") << QStringLiteral("TESTPC: Surgery");
}

void TestE2eCapture::roundTrip() {
    QFETCH(QString, connectTo);
    QFETCH(QString, device);
    QFETCH(bool, networkMode);
    QFETCH(QString, fileType);
    QFETCH(QString, bits);
    QFETCH(bool, deleteSource);
    QFETCH(QString, extension);
    QFETCH(QStringList, values);
    QFETCH(QString, labelStart);
    QFETCH(QString, stationName);

    TestEnvironment env;
    const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
    QCOMPARE(configureCaptureStation(connectTo, fileType, bits), QString());
    if (deleteSource)
        QCOMPARE(setSetting(QStringLiteral("XRay"), QStringLiteral("DeleteSource"), QStringLiteral("1")),
                 QString());

    if (networkMode) {
        // A second OPTIME, reached only when ravlek points the driver at the registered
        // address: the first one of the catalogue would otherwise be opened.
        QCOMPARE(simulator({QStringLiteral("add"), device, QStringLiteral("4")}), QString());
        const ProgramRun netMode = runProgram(
            QStringLiteral("ravlek-reg"),
            {QStringLiteral("add"), QStringLiteral("HKLM\\SOFTWARE\\Soredex\\Dsd\\Uid"), QStringLiteral("/v"),
             QStringLiteral("NetMode"), QStringLiteral("/t"), QStringLiteral("REG_DWORD"),
             QStringLiteral("/d"), QStringLiteral("1"), QStringLiteral("/f")});
        QVERIFY2(netMode.exitCode == 0, qPrintable(netMode.describe()));
        EmbeddedDatabase db;
        for (const QStringList& create : {CreateXrayWorkstationsSql(DataLinkEngine::SQLite),
                                          CreateXrayDeviceLockListSql(DataLinkEngine::SQLite)})
            QCOMPARE(db.exec(create.join(QLatin1Char('\n'))), QString());
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (?, ?, ?, ?, ?)"),
                         {QStringLiteral("TESTPC"), QStringLiteral("Digora OPTIME"), QStringLiteral("Room 2"),
                          QStringLiteral("Surgery"), device}),
                 QString());
    }
    QCOMPARE(simulator({QStringLiteral("stage"), device, QStringLiteral("50")}), QString());
    QCOMPARE(simulator({QStringLiteral("delay"), device, QStringLiteral("300")}), QString());

    const ProgramRun run = runProgram(QStringLiteral("ravlek-host"), {QStringLiteral("PNR=") + kPatient,
                                                                      QStringLiteral("OUTDIR=") + outDir});
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=4711 lParam=0"),
                                         QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0")}));

    const QString image = outDir + kPatient + QStringLiteral("/Rtg4711_1.") + extension;
    const QString workingFile = outDir + QStringLiteral("lastscannedfile.") + extension;
    QVERIFY2(QFileInfo::exists(image), qPrintable(image));
    QVERIFY(!QFileInfo::exists(outDir + kPatient + QStringLiteral("/Rtg4711_2.") + extension));
    if (deleteSource) {
        QVERIFY(!QFileInfo::exists(workingFile));
    } else {
        QVERIFY(QFileInfo::exists(workingFile));
        QVERIFY2(fileContent(image) == fileContent(workingFile),
                 "the stored image differs from the working file");
    }
    if (extension == QStringLiteral("raw"))
        QCOMPARE(QFileInfo(image).size(), qint64(1200 * 600 * 2)); // 12 bits in 16-bit words
    if (extension == QStringLiteral("dcm")) {
        const QString dcmdump = QStandardPaths::findExecutable(QStringLiteral("dcmdump"));
        if (!dcmdump.isEmpty()) {
            QProcess dump;
            dump.start(dcmdump, {image});
            QVERIFY(dump.waitForFinished(30000));
            const QString dumped =
                QString::fromUtf8(dump.readAllStandardOutput() + dump.readAllStandardError());
            QVERIFY2(dump.exitCode() == 0, qPrintable(dumped));
            QVERIFY2(dumped.contains(QStringLiteral("(0010,0020) LO [4711]")), qPrintable(dumped));
        }
    }

    const QStringList lines = fileLines(outDir + kPatient + QStringLiteral("/Rtg4711_1.xnf"));
    QVERIFY2(!lines.isEmpty(), "no information file");
    QCOMPARE(lines.first(), QStringLiteral("[ImageInformation]"));
    const QList<QPair<QString, QString>> entries = informationEntries(lines);
    QStringList keys;
    for (const auto& entry : entries)
        keys.append(entry.first);
    QCOMPARE(keys, kInformationKeys);
    QCOMPARE(entries.at(0).second, image);
    QCOMPARE(entries.at(1).second, QStringLiteral("0"));
    QCOMPARE(entries.at(2).second, QStringLiteral("0"));
    QCOMPARE(entries.at(3).second, QStringLiteral("0"));
    QCOMPARE(entries.at(4).second, values.at(0));
    // The label carries the status word of the moment, which the status poll may not have
    // brought up to date yet; the device part is fixed.
    QVERIFY2(entries.at(5).second.startsWith(labelStart), qPrintable(entries.at(5).second));
    QCOMPARE(entries.at(6).second, values.at(1));
    QCOMPARE(entries.at(7).second, values.at(2));
    QCOMPARE(entries.at(8).second, values.at(3));
    QCOMPARE(entries.at(9).second, values.at(4));
    QCOMPARE(entries.at(10).second, stationName);

    if (networkMode) {
        InitApplicationEnvironment({QStringLiteral("tst_e2e_capture")});
        QCOMPARE(ReadRegString(platform::Hive::LocalMachine, QStringLiteral("SOFTWARE\\Soredex\\Dsd\\Uid"),
                               QStringLiteral("ScIP")),
                 device);
        EmbeddedDatabase db;
        QCOMPARE(db.count(QStringLiteral("XRAYDEVICELOCKLIST")), 0); // given up at the close
    }
    // The device was closed with the program.
    const std::optional<SimDeviceFolder> state = simulatedDevice(device);
    QVERIFY(state);
    QVERIFY(!state->isOpen());
    // No other user can change what the run left in the machine folder (the machine hive, the
    // data links), so none can point the workstations at a database of their choosing.
    QCOMPARE(writableByOthers(qEnvironmentVariable("KELVO_MACHINE_DIR")), QStringList());
}

void TestE2eCapture::commandLine_data() {
    QTest::addColumn<QStringList>("arguments"); // "<xray>" stands for the destination folder
    QTest::addColumn<QString>("box");           // the text of the warning the user sees, or empty
    QTest::addColumn<QStringList>("notices");
    QTest::addColumn<QString>("image"); // relative to the test folder, or empty: nothing stored

    const QString transferred = QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0");
    const QString kInvalidPatient =
        QStringLiteral("Invalid parameter!\r\rRestart the application with a valid parameter!");
    QTest::newRow("patient number without digits")
        << QStringList{QStringLiteral("PNR=abc"), QStringLiteral("OUTDIR=<xray>/")} << kInvalidPatient
        << QStringList{} << QString();
    QTest::newRow("patient number beyond 32 bits")
        << QStringList{QStringLiteral("PNR=2147483648"), QStringLiteral("OUTDIR=<xray>/")} << kInvalidPatient
        << QStringList{} << QString();
    QTest::newRow("destination folder missing")
        << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>/nowhere/")}
        << QStringLiteral("The destination directory is invalid!\r\rIn the System register, choose a valid "
                          "destination xray directory!")
        << QStringList{transferred} << QString();
    QTest::newRow("window handle that is no number")
        << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>/"),
                       QStringLiteral("HWND=journal")}
        << kInvalidHostWindowText << QStringList{} << QStringLiteral("xray/4711/Rtg4711_1.bmp");
    QTest::newRow("destination without trailing delimiter")
        << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>")} << QString()
        << QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=4711 lParam=0"), transferred}
        << QStringLiteral("xray4711/Rtg4711_1.bmp");
    QTest::newRow("key inside an argument")
        << QStringList{QStringLiteral("XPNR=5"), QStringLiteral("OUTDIR=<xray>/")} << QString()
        << QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=5 lParam=0"),
                       QStringLiteral("XRAY_TRANSFERRED wParam=5 lParam=0")}
        << QStringLiteral("xray/5/Rtg5_1.bmp");
    QTest::newRow("no patient number") << QStringList{QStringLiteral("OUTDIR=<xray>/")} << QString()
                                       << QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=0 lParam=0"),
                                                      QStringLiteral("XRAY_TRANSFERRED wParam=0 lParam=0")}
                                       << QStringLiteral("xray/0/Rtg0_1.bmp");
}

void TestE2eCapture::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, box);
    QFETCH(QStringList, notices);
    QFETCH(QString, image);

    TestEnvironment env;
    const QString xray = env.makeFolder(QStringLiteral("xray"));
    QCOMPARE(configureCaptureStation(QStringLiteral("¤8¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("stage"), QStringLiteral("8"), QStringLiteral("50")}), QString());
    QCOMPARE(simulator({QStringLiteral("delay"), QStringLiteral("8"), QStringLiteral("300")}), QString());
    arguments.replaceInStrings(QStringLiteral("<xray>"), xray);

    const ProgramRun run = runProgram(QStringLiteral("ravlek-host"), arguments);
    QVERIFY2(run.finished, qPrintable(QStringLiteral("ravlek did not close by itself (a message box left "
                                                     "unanswered? %1=1 answers them)\n")
                                          .arg(QString::fromLatin1(kUnattendedVariable)) +
                                      run.describe()));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.notices(), notices);
    // Each box the user would have seen is one line of the error output.
    const QStringList boxes =
        run.errors.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^\\[[^]]*\\] ")));
    QCOMPARE(boxes, box.isEmpty() ? QStringList{}
                                  : QStringList{unattendedBoxLine(QStringLiteral("Information"), box)});

    QStringList stored;
    QDirIterator it(env.root(), {QStringLiteral("Rtg*")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        stored.append(QDir(env.root()).relativeFilePath(it.next()));
    stored.removeIf([](const QString& name) { return name.endsWith(QLatin1String(".xnf")); });
    QCOMPARE(stored, image.isEmpty() ? QStringList{} : QStringList{image});
}

void TestE2eCapture::secondStart_data() {
    QTest::addColumn<QStringList>("arguments"); // of the second start; "<xray>" the destination
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("box"); // the warning the running copy shows, or empty
    const QString warningEnd = QStringLiteral(
        ", but it is already open for patient 4711!\r\rImages taken in this window are stored for patient "
        "4711. Close it before you take images for another patient.");
    QTest::newRow("same patient") << QStringList{QStringLiteral("PNR=4711"), QStringLiteral("OUTDIR=<xray>/")}
                                  << 0 << QString();
    QTest::newRow("another patient") << QStringList{QStringLiteral("PNR=815"),
                                                    QStringLiteral("OUTDIR=<xray>/")}
                                     << 3
                                     << QStringLiteral("Ravlek was started for patient 815") + warningEnd;
    QTest::newRow("no patient named") << QStringList{QStringLiteral("OUTDIR=<xray>/")} << 0 << QString();
    QTest::newRow("unusable patient number")
        << QStringList{QStringLiteral("PNR=abc"), QStringLiteral("OUTDIR=<xray>/")} << 3
        << QStringLiteral("Ravlek was started with an invalid patient number") + warningEnd;
}

// A second start while ravlek runs for patient 4711: for the same patient it ends at once with
// 0; for another it ends with 3 and hands nothing over, while the running copy warns its user,
// goes on and files its next image under its own patient.
void TestE2eCapture::secondStart() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, box);

    TestEnvironment env;
    const QString xray = env.makeFolder(QStringLiteral("xray"));
    QCOMPARE(configureCaptureStation(QStringLiteral("¤8¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    QCOMPARE(simulator({QStringLiteral("stage"), QStringLiteral("8"), QStringLiteral("50")}), QString());
    const std::optional<SimDeviceFolder> device = simulatedDevice(QStringLiteral("8"));
    QVERIFY(device);
    RunningProgram first(
        QStringLiteral("ravlek-host"),
        {QStringLiteral("PNR=") + kPatient, QStringLiteral("OUTDIR=") + xray + QLatin1Char('/')},
        programEnvironment());
    QTRY_VERIFY_WITH_TIMEOUT(first.firstChild() != 0 && device->openedBy() == first.firstChild() &&
                                 device->report() && device->report()->armed,
                             30000);

    arguments.replaceInStrings(QStringLiteral("<xray>"), xray);
    const ProgramRun second = runProgram(QStringLiteral("ravlek"), arguments);
    QVERIFY2(second.finished, qPrintable(second.describe()));
    QCOMPARE(second.exitCode, exitCode);
    QCOMPARE(device->openedBy(), first.firstChild());

    // The running copy takes its image as if nothing had happened.
    QCOMPARE(simulator({QStringLiteral("expose"), QStringLiteral("8"), QStringLiteral("--wait")}), QString());
    const ProgramRun run = first.wait(30000);
    QVERIFY2(run.finished, qPrintable(run.describe()));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.notices(), (QStringList{QStringLiteral("XRAY_NEW_IMAGE wParam=4711 lParam=0"),
                                         QStringLiteral("XRAY_TRANSFERRED wParam=4711 lParam=0")}));
    const QStringList boxes =
        run.errors.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^\\[[^]]*\\] ")));
    QCOMPARE(boxes, box.isEmpty() ? QStringList{}
                                  : QStringList{unattendedBoxLine(QStringLiteral("Information"), box)});
    QStringList stored;
    QDirIterator it(env.root(), {QStringLiteral("Rtg*")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        stored.append(QDir(env.root()).relativeFilePath(it.next()));
    stored.sort();
    QCOMPARE(stored, (QStringList{QStringLiteral("xray/4711/Rtg4711_1.bmp"),
                                  QStringLiteral("xray/4711/Rtg4711_1.xnf")}));
    QCOMPARE(QDir(xray).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{kPatient});
}

QTEST_GUILESS_MAIN(TestE2eCapture)
#include "tst_e2e_capture.moc"
