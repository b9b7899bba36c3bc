// --help, --version and unknown options: every program answers them before anything else,
// without a display, and the rules of which arguments are options at all.

#include "TestEnvironment.h"
#include "tools/CEVersionInfo.h"
#include "tools/ProgramOptions.h"

#include <QProcess>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program as a user at a terminal without any display would.
Run runWithoutDisplay(const QString& program, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name :
         {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")})
        environment.remove(name);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(programPath(program), arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

const TProgramOptions kOptions{QStringLiteral("tool"), QStringLiteral("Usage: tool\n")};

} // namespace

class TestProgramOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyProgramAnswersHelp_data() { everyProgram(); }
    void everyProgramAnswersHelp();
    void everyProgramAnswersVersion_data() { everyProgram(); }
    void everyProgramAnswersVersion();
    void everyProgramRefusesAnUnknownOption_data() { everyProgram(); }
    void everyProgramRefusesAnUnknownOption();
    void hostHandsOtherOptionsToRavlek();
    void commandOptionsAreLeftToTheCommand();
    void whichArgumentsAreOptions_data();
    void whichArgumentsAreOptions();

private:
    static void everyProgram();
};

void TestProgramOptions::everyProgram() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("usageStart");
    QTest::newRow("ravlek") << QStringLiteral("ravlek") << QStringLiteral("Usage: ravlek ");
    QTest::newRow("ravlek-host") << QStringLiteral("ravlek-host") << QStringLiteral("Usage: ravlek-host ");
    QTest::newRow("ravlek-sim") << QStringLiteral("ravlek-sim") << QStringLiteral("Usage: ravlek-sim ");
    QTest::newRow("ravlek-reg") << QStringLiteral("ravlek-reg") << QStringLiteral("ravlek-reg Operation ");
    QTest::newRow("kelvo-progress") << QStringLiteral("kelvo-progress")
                                    << QStringLiteral("Usage: kelvo-progress ");
    QTest::newRow("ravlek-outbox") << QStringLiteral("ravlek-outbox")
                                   << QStringLiteral("Usage: ravlek-outbox ");
}

void TestProgramOptions::everyProgramAnswersHelp() {
    QFETCH(QString, program);
    QFETCH(QString, usageStart);
    TestEnvironment env;
    const Run run = runWithoutDisplay(program, {QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(usageStart), qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("--version")));
    QCOMPARE(run.err, QString());
    // Nothing of the program ran: no window reached the bus.
    QVERIFY(!QFile::exists(env.path(QStringLiteral("runtime/kelvo-bus"))));
}

void TestProgramOptions::everyProgramAnswersVersion() {
    QFETCH(QString, program);
    TestEnvironment env;
    const Run run = runWithoutDisplay(program, {QStringLiteral("--version")});
    QCOMPARE(run.exitCode, 0);
    // The version its own file carries.
    TCEVersionInfo info;
    info.GetInfo(programPath(program));
    QCOMPARE(info.FileVersion, QStringLiteral(RAVLEK_PROJECT_VERSION ".0"));
    QCOMPARE(run.out, program + QLatin1Char(' ') + info.FileVersion + QLatin1Char('\n'));
    QCOMPARE(run.err, QString());
}

void TestProgramOptions::everyProgramRefusesAnUnknownOption() {
    QFETCH(QString, program);
    TestEnvironment env;
    const Run run = runWithoutDisplay(program, {QStringLiteral("--foo")});
    QCOMPARE(run.exitCode, kUnknownOptionExitCode);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(run.err.contains(QStringLiteral("\"--foo\"")), qPrintable(run.err));
}

void TestProgramOptions::hostHandsOtherOptionsToRavlek() {
    // ravlek-host passes every argument on; ravlek judges the option, and its answer is the host's.
    TestEnvironment env;
    const Run run = runWithoutDisplay(QStringLiteral("ravlek-host"), {QStringLiteral("--foo")});
    QCOMPARE(run.exitCode, kUnknownOptionExitCode);
    QVERIFY2(run.err.startsWith(QStringLiteral("ravlek: unknown option \"--foo\"")), qPrintable(run.err));
}

void TestProgramOptions::commandOptionsAreLeftToTheCommand() {
    // After the command, "--" words are the command's own: its answer, not the unknown-option one.
    TestEnvironment env;
    const Run sim =
        runWithoutDisplay(QStringLiteral("ravlek-sim"), {QStringLiteral("list"), QStringLiteral("--foo")});
    QVERIFY2(sim.err.contains(QStringLiteral("list takes no arguments")), qPrintable(sim.err));
    const Run reg =
        runWithoutDisplay(QStringLiteral("ravlek-reg"), {QStringLiteral("query"), QStringLiteral("--foo")});
    QCOMPARE(reg.exitCode, 1);
    QVERIFY2(reg.err.startsWith(QStringLiteral("ERROR: Invalid key name.")), qPrintable(reg.err));
}

void TestProgramOptions::whichArgumentsAreOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("leadingOnly");
    QTest::addColumn<bool>("passOtherOptions");
    QTest::addColumn<int>("exitCode"); // -1: the program goes on
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString refused =
        QStringLiteral("tool: unknown option \"--foo\" (tool --help lists the options)\n");
    QTest::newRow("no arguments") << QStringList{} << false << false << -1 << QString() << QString();
    QTest::newRow("key arguments are never options")
        << QStringList{QStringLiteral("PNR=--help"), QStringLiteral("-x"), QStringLiteral("OUTDIR=/x/"),
                       QStringLiteral("--")}
        << false << false << -1 << QString() << QString();
    QTest::newRow("help after other arguments")
        << QStringList{QStringLiteral("PNR=1"), QStringLiteral("--help")} << false << false << 0
        << QStringLiteral("Usage: tool\n") << QString();
    QTest::newRow("the first option decides")
        << QStringList{QStringLiteral("--foo"), QStringLiteral("--help")} << false << false << 2 << QString()
        << refused;
    QTest::newRow("unknown option after others")
        << QStringList{QStringLiteral("PNR=1"), QStringLiteral("--foo")} << false << false << 2 << QString()
        << refused;
    QTest::newRow("options are words of their own")
        << QStringList{QStringLiteral("--help=1")} << false << false << 2 << QString()
        << QStringLiteral("tool: unknown option \"--help=1\" (tool --help lists the options)\n");
    QTest::newRow("leading only: after the command")
        << QStringList{QStringLiteral("list"), QStringLiteral("--foo")} << true << false << -1 << QString()
        << QString();
    QTest::newRow("leading only: before the command")
        << QStringList{QStringLiteral("--foo"), QStringLiteral("list")} << true << false << 2 << QString()
        << refused;
    QTest::newRow("passed on") << QStringList{QStringLiteral("--foo"), QStringLiteral("PNR=1")} << true
                               << true << -1 << QString() << QString();
    QTest::newRow("passed on, help still answered")
        << QStringList{QStringLiteral("--foo"), QStringLiteral("--help")} << true << true << 0
        << QStringLiteral("Usage: tool\n") << QString();
}

void TestProgramOptions::whichArgumentsAreOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, leadingOnly);
    QFETCH(bool, passOtherOptions);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    TProgramOptions options = kOptions;
    options.leadingOnly = leadingOnly;
    options.passOtherOptions = passOtherOptions;
    QString written;
    QString errors;
    QTextStream outStream(&written);
    QTextStream errStream(&errors);
    const std::optional<int> result =
        HandleProgramOptions(QStringList{QStringLiteral("tool")} + arguments, options, outStream, errStream);
    QCOMPARE(result.value_or(-1), exitCode);
    QCOMPARE(written, out);
    QCOMPARE(errors, err);
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"
