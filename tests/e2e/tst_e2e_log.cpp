// The log as support finds it after a run of the real programs: ravlek-host starts ravlek for a
// patient on a registered device, the image is stored and ravlek closes; the log file then tells
// the whole story in order, without the database login, and nothing of the sound output's
// complaints reaches the error output on a computer without a sound device.

#include "E2eInstallation.h"
#include "database/DataLinkFile.h"
#include "database/KelvoSchema.h"

#include <QtTest>

using namespace e2e;

namespace {

const QString kPatient = QStringLiteral("4711");
const QString kDevice = QStringLiteral("192.0.2.4"); // the catalogue's Digora OPTIME (type 4)

// The index of the first line at or after `from` that matches `pattern`; -1 when none does.
qsizetype lineMatching(const QStringList& lines, const QString& pattern, qsizetype from = 0) {
    const QRegularExpression expression(pattern);
    for (qsizetype i = from; i < lines.size(); ++i)
        if (expression.match(lines.at(i)).hasMatch())
            return i;
    return -1;
}

// A computer without a sound device, whatever this one has: ALSA with a configuration that
// names no device, and libcanberra told to use ALSA rather than a sound server.
QProcessEnvironment withoutSoundDevice(const TestEnvironment& env) {
    QProcessEnvironment environment = programEnvironment();
    environment.insert(QStringLiteral("ALSA_CONFIG_PATH"), env.writeFile(QStringLiteral("alsa.conf"), {}));
    environment.insert(QStringLiteral("CANBERRA_DRIVER"), QStringLiteral("alsa"));
    return environment;
}

} // namespace

class TestE2eLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void captureRun_data();
    void captureRun();
    void messageBox();
};

void TestE2eLog::captureRun_data() {
    QTest::addColumn<QString>("rules"); // QT_LOGGING_RULES of the run
    QTest::addColumn<bool>("soundDetail");
    QTest::addColumn<bool>("dataLinkLogin"); // a data-link file with a login, else the embedded default
    QTest::newRow("embedded default") << QString() << false << false;
    QTest::newRow("sound detail on") << QStringLiteral("ravlek.sound.debug=true") << true << false;
    QTest::newRow("data link with a login") << QString() << false << true;
}

void TestE2eLog::captureRun() {
    QFETCH(QString, rules);
    QFETCH(bool, soundDetail);
    QFETCH(bool, dataLinkLogin);

    TestEnvironment env;
    const QString outDir = env.makeFolder(QStringLiteral("xray")) + QLatin1Char('/');
    QCOMPARE(configureCaptureStation(QStringLiteral("¤4¤"), QStringLiteral("DIB"), QStringLiteral("8")),
             QString());
    // The ready sound is what wakes the sound output.
    QCOMPARE(setSetting(QStringLiteral("XRay"), QStringLiteral("PlaySoundWhenScannerIsReady"),
                        QStringLiteral("-1")),
             QString());
    {
        EmbeddedDatabase db;
        for (const QStringList& create : {CreateXrayWorkstationsSql(DataLinkEngine::SQLite),
                                          CreateXrayDeviceLockListSql(DataLinkEngine::SQLite)})
            QCOMPARE(db.exec(create.join(QLatin1Char('\n'))), QString());
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO XRAYWORKSTATIONS VALUES (?, ?, ?, ?, ?)"),
                         {QStringLiteral("TESTPC"), QStringLiteral("Digora OPTIME"), QStringLiteral("Room 2"),
                          QStringLiteral("Surgery"), kDevice}),
                 QString());
    }
    if (dataLinkLogin) {
        // The same database file, named by a data-link file that carries a login.
        InitApplicationEnvironment({QStringLiteral("tst_e2e_log")});
        QDir().mkpath(Environment().DataLinksPath);
        QVERIFY(WriteDataLinkFile(Environment().DataLinksPath + QStringLiteral("Practice.udl"),
                                  QStringLiteral("Provider=SQLite;Data Source=%1/kelvo/ravlek.sqlite;"
                                                 "User ID=ann.berg;Password=Hemligt-123")
                                      .arg(qEnvironmentVariable("XDG_DATA_HOME"))));
        QCOMPARE(setSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider"),
                            QStringLiteral("Practice.udl")),
                 QString());
    }
    QCOMPARE(simulator({QStringLiteral("stage"), kDevice, QStringLiteral("50")}), QString());
    QCOMPARE(simulator({QStringLiteral("delay"), kDevice, QStringLiteral("300")}), QString());

    QProcessEnvironment environment = withoutSoundDevice(env);
    if (!rules.isEmpty())
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
    const ProgramRun run = runProgram(QStringLiteral("ravlek-host"),
                                      {QStringLiteral("PNR=") + kPatient, QStringLiteral("OUTDIR=") + outDir},
                                      30000, environment);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.describe()));
    QCOMPARE(run.notices().size(), 2);
    QVERIFY2(!run.errors.contains(QLatin1String("ALSA")), qPrintable(run.errors));

    const QStringList lines = programLogLines();
    const QString all = lines.join(QLatin1Char('\n'));
    const QString image = outDir + kPatient + QStringLiteral("/Rtg4711_1.bmp");
    const QString workingFile = outDir + QStringLiteral("lastscannedfile.bmp");
    const qint64 size = QFileInfo(image).size();
    QVERIFY(size > 0);
    const QString head = QStringLiteral(R"(^\S+ ravlek\[\d+\] )");
    const QString device = QStringLiteral("Digora OPTIME - Room 2");
    // In the order they happened.
    const QStringList expected{
        head + QStringLiteral(
                   R"(info ravlek\.app: ravlek \S+ started from \S*/ravlek with arguments: .*PNR=4711)"),
        head + QStringLiteral(R"(info ravlek\.db: frmSettings\.Database1 connected with Provider=SQLite;)"),
        head + QStringLiteral(R"(info ravlek\.lock: TESTPC holds )") + QRegularExpression::escape(device),
        head + QStringLiteral(R"(info ravlek\.device: Opened )") + QRegularExpression::escape(device),
        head + QStringLiteral(R"(info ravlek\.handoff: Stored )") + QRegularExpression::escape(workingFile) +
            QStringLiteral(" as ") + QRegularExpression::escape(image) +
            QStringLiteral(R"(: %1 bytes in \d+ ms$)").arg(size),
        head +
            QStringLiteral(R"(info ravlek\.bus: Sent XRAY_NEW_IMAGE \(wParam 4711, lParam 0\) to the host )"),
        // The device closes before its lock goes, so that no other workstation finds it open.
        head + QStringLiteral(R"(info ravlek\.device: Closed )") + QRegularExpression::escape(device),
        head + QStringLiteral(R"(info ravlek\.lock: TESTPC gave up its locks and queue places \(1\)$)"),
        head + QStringLiteral(R"(info ravlek\.db: frmSettings\.Database1 closed$)"),
        head + QStringLiteral(
                   R"(info ravlek\.bus: Sent XRAY_TRANSFERRED \(wParam 4711, lParam 0\) to the host )"),
        head + QStringLiteral(R"(info ravlek\.app: ravlek ended with exit code 0$)"),
    };
    qsizetype at = 0;
    for (const QString& pattern : expected) {
        at = lineMatching(lines, pattern, at);
        QVERIFY2(at >= 0,
                 qPrintable(QStringLiteral("no line /%1/ in order in the log:\n%2").arg(pattern, all)));
    }
    // The data link's login is masked wherever the log would hold it.
    QVERIFY2(!all.contains(QStringLiteral("Hemligt")) && !all.contains(QStringLiteral("ann.berg")),
             qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("User ID=****;Password=****")), qPrintable(all));
    // The login came from the data-link file, or else from the program itself.
    QCOMPARE(all.contains(QStringLiteral("No login could be read from KELVOUSER")), !dataLinkLogin);
    // The sound output's complaints are detail: in the log only when asked for.
    QCOMPARE(lineMatching(lines, QStringLiteral(R"(debug ravlek\.sound: .*ALSA)")) >= 0, soundDetail);
}

// A message box is logged once, with its title and whole text, by the program that shows it.
void TestE2eLog::messageBox() {
    TestEnvironment env;
    const QString xray = env.makeFolder(QStringLiteral("xray"));
    const ProgramRun run =
        runProgram(QStringLiteral("ravlek"),
                   {QStringLiteral("PNR=abc"), QStringLiteral("OUTDIR=") + xray + QLatin1Char('/')});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.describe()));
    const QStringList boxes = programLogLines().filter(QStringLiteral(" ravlek.dialog: "));
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().endsWith(
                 QStringLiteral("warning ravlek.dialog: [Information] Invalid parameter!\\n\\nRestart the "
                                "application with a valid parameter!")),
             qPrintable(boxes.first()));
}

QTEST_GUILESS_MAIN(TestE2eLog)
#include "tst_e2e_log.moc"
