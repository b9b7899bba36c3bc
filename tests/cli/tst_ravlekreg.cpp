#include "TestEnvironment.h"

#include "cli/RegTool.h"
#include "platform/RegFileRegistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <unistd.h>

using platform::Hive;
using platform::RegFileRegistry;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run reg(const QStringList& arguments, bool unprivileged = false) {
    QString program = programPath(u"ravlek-reg"_qs);
    QStringList args = arguments;
    if (unprivileged && ::geteuid() == 0) {
        args = QStringList{u"--reuid=nobody"_qs, u"--regid=nogroup"_qs, u"--clear-groups"_qs, program} + args;
        program = u"setpriv"_qs;
    }
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000))
        qFatal("ravlek-reg did not finish");
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

const QString kDone = u"The operation completed successfully.\n"_qs;
const QString kNotFound = u"ERROR: The system was unable to find the specified registry key or value.\n"_qs;

// A small tree: HKCU\Software\Test with two values and two subkeys.
void fillTestTree() {
    QCOMPARE(
        reg({u"add"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"Name"_qs, u"/d"_qs, u"text"_qs}).exitCode, 0);
    QCOMPARE(reg({u"add"_qs, u"HKEY_CURRENT_USER\\Software\\Test"_qs, u"/v"_qs, u"Count"_qs, u"/t"_qs,
                  u"REG_DWORD"_qs, u"/d"_qs, u"42"_qs})
                 .exitCode,
             0);
    QCOMPARE(reg({u"add"_qs, u"HKCU\\Software\\Test\\Sub"_qs, u"/ve"_qs, u"/d"_qs, u"deflt"_qs}).exitCode, 0);
    QCOMPARE(reg({u"add"_qs, u"HKCU\\Software\\Test\\Empty"_qs}).exitCode, 0);
}

} // namespace

class TestRavlekReg : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addPrintsSuccess() {
        TestEnvironment env;
        const Run run = reg({u"add"_qs, u"HKLM\\SOFTWARE\\Soredex\\Dsd\\Uid"_qs, u"/v"_qs, u"ScIP"_qs,
                             u"/t"_qs, u"REG_SZ"_qs, u"/d"_qs, u"10.0.0.7"_qs, u"/f"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kDone);
        QCOMPARE(run.err, QString());
        QCOMPARE(
            RegFileRegistry().value(Hive::LocalMachine, u"SOFTWARE\\Soredex\\Dsd\\Uid"_qs, u"ScIP"_qs)->text,
            u"10.0.0.7"_qs);
    }

    void query_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        QTest::newRow("key") << QStringList{u"HKCU\\Software\\Test"_qs}
                             << u"\nHKEY_CURRENT_USER\\Software\\Test\n"
                                u"    Name    REG_SZ    text\n"
                                u"    Count    REG_DWORD    0x2a\n\n"
                                u"HKEY_CURRENT_USER\\Software\\Test\\Empty\n"
                                u"HKEY_CURRENT_USER\\Software\\Test\\Sub\n"_qs;
        QTest::newRow("stored spelling") << QStringList{u"hkcu\\SOFTWARE\\test\\sub\\"_qs}
                                         << u"\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n"
                                            u"    (Default)    REG_SZ    deflt\n\n"_qs;
        QTest::newRow("key without values")
            << QStringList{u"HKCU\\Software"_qs} << u"\nHKEY_CURRENT_USER\\Software\\Test\n"_qs;
        QTest::newRow("one value")
            << QStringList{u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"count"_qs}
            << u"\nHKEY_CURRENT_USER\\Software\\Test\n    Count    REG_DWORD    0x2a\n\n"_qs;
        QTest::newRow("default value") << QStringList{u"HKCU\\Software\\Test\\Sub"_qs, u"/ve"_qs}
                                       << u"\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n"
                                          u"    (Default)    REG_SZ    deflt\n\n"_qs;
        QTest::newRow("default value not set") << QStringList{u"HKCU\\Software\\Test"_qs, u"/ve"_qs}
                                               << u"\nHKEY_CURRENT_USER\\Software\\Test\n"
                                                  u"    (Default)    REG_SZ    (value not set)\n\n"_qs;
        QTest::newRow("tree") << QStringList{u"HKCU\\Software\\Test"_qs, u"/s"_qs}
                              << u"\nHKEY_CURRENT_USER\\Software\\Test\n"
                                 u"    Name    REG_SZ    text\n"
                                 u"    Count    REG_DWORD    0x2a\n"
                                 u"\nHKEY_CURRENT_USER\\Software\\Test\\Empty\n"
                                 u"\nHKEY_CURRENT_USER\\Software\\Test\\Sub\n"
                                 u"    (Default)    REG_SZ    deflt\n"_qs;
        QTest::newRow("search") << QStringList{u"HKCU\\Software"_qs, u"/v"_qs, u"Name"_qs, u"/s"_qs}
                                << u"\nHKEY_CURRENT_USER\\Software\\Test\n"
                                   u"    Name    REG_SZ    text\n"
                                   u"\nEnd of search: 1 match(es) found.\n"_qs;
    }
    void query() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        TestEnvironment env;
        fillTestTree();
        const Run run = reg(QStringList{u"QUERY"_qs} + arguments);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.out, output);
        QCOMPARE(run.exitCode, 0);
    }

    void errors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("no operation")
            << QStringList{} << u"ERROR: Invalid syntax.\nType \"ravlek-reg /?\" for usage.\n"_qs;
        QTest::newRow("unknown operation")
            << QStringList{u"copy"_qs, u"HKCU\\A"_qs}
            << u"ERROR: Invalid syntax.\nType \"ravlek-reg /?\" for usage.\n"_qs;
        QTest::newRow("unknown option")
            << QStringList{u"query"_qs, u"HKCU\\Software"_qs, u"/z"_qs}
            << u"ERROR: Invalid syntax.\nType \"ravlek-reg QUERY /?\" for usage.\n"_qs;
        QTest::newRow("/v and /ve together")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"x"_qs, u"/ve"_qs}
            << u"ERROR: Invalid syntax.\nType \"ravlek-reg ADD /?\" for usage.\n"_qs;
        QTest::newRow("/v without a name")
            << QStringList{u"delete"_qs, u"HKCU\\A"_qs, u"/v"_qs}
            << u"ERROR: Invalid syntax.\nType \"ravlek-reg DELETE /?\" for usage.\n"_qs;
        QTest::newRow("export without a file")
            << QStringList{u"export"_qs, u"HKCU\\Software"_qs}
            << u"ERROR: Invalid syntax.\nType \"ravlek-reg EXPORT /?\" for usage.\n"_qs;
        QTest::newRow("unknown hive")
            << QStringList{u"query"_qs, u"HKCR\\Software"_qs}
            << u"ERROR: Invalid key name.\nType \"ravlek-reg QUERY /?\" for usage.\n"_qs;
        QTest::newRow("missing key") << QStringList{u"query"_qs, u"HKCU\\Software\\Nothing"_qs} << kNotFound;
        QTest::newRow("missing value")
            << QStringList{u"query"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"No"_qs} << kNotFound;
        QTest::newRow("search finds nothing")
            << QStringList{u"query"_qs, u"HKCU\\Software"_qs, u"/v"_qs, u"No"_qs, u"/s"_qs} << QString();
        QTest::newRow("delete a missing value")
            << QStringList{u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"No"_qs, u"/f"_qs}
            << kNotFound;
        QTest::newRow("delete a missing key")
            << QStringList{u"delete"_qs, u"HKCU\\Software\\No"_qs, u"/f"_qs} << kNotFound;
        QTest::newRow("delete a hive")
            << QStringList{u"delete"_qs, u"HKCU"_qs, u"/f"_qs}
            << u"ERROR: Invalid key name.\nType \"ravlek-reg DELETE /?\" for usage.\n"_qs;
        QTest::newRow("bad dword") << QStringList{u"add"_qs, u"HKCU\\A"_qs,   u"/v"_qs, u"n"_qs,
                                                  u"/t"_qs,  u"REG_DWORD"_qs, u"/d"_qs, u"4294967296"_qs}
                                   << u"ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n"_qs;
        QTest::newRow("unsupported type")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs, u"/t"_qs, u"REG_BINARY"_qs}
            << u"ERROR: Invalid value type \"REG_BINARY\": only REG_SZ and REG_DWORD are supported.\n"_qs;
        QTest::newRow("import a missing file")
            << QStringList{u"import"_qs, u"no-such.reg"_qs}
            << u"ERROR: Error opening the file. There may be a disk or file system error.\n"_qs;
    }
    void errors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        TestEnvironment env;
        fillTestTree();
        const QByteArray before = [] {
            QFile file(RegFileRegistry::hiveFile(Hive::CurrentUser));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        const Run run = reg(arguments);
        QCOMPARE(run.exitCode, 1);
        if (!error.isEmpty())
            QCOMPARE(run.err, error);
        QFile file(RegFileRegistry::hiveFile(Hive::CurrentUser));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void dwordData_data() {
        QTest::addColumn<QString>("data");
        QTest::addColumn<quint32>("number");
        QTest::newRow("decimal") << u"10"_qs << 10u;
        QTest::newRow("hex") << u"0x1F"_qs << 31u;
        QTest::newRow("largest") << u"4294967295"_qs << 0xffffffffu;
        QTest::newRow("no data") << QString() << 0u;
    }
    void dwordData() {
        QFETCH(QString, data);
        QFETCH(quint32, number);
        TestEnvironment env;
        QStringList args{u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs, u"/t"_qs, u"reg_dword"_qs};
        if (!data.isNull())
            args << u"/d"_qs << data;
        QCOMPARE(reg(args).exitCode, 0);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"A"_qs, u"n"_qs)->dword, number);
    }

    void deleteCommands() {
        TestEnvironment env;
        fillTestTree();
        Run run = reg({u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"NAME"_qs, u"/f"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kDone);
        RegFileRegistry registry;
        QVERIFY(!registry.value(Hive::CurrentUser, u"Software\\Test"_qs, u"Name"_qs));
        QVERIFY(registry.value(Hive::CurrentUser, u"Software\\Test"_qs, u"Count"_qs));

        QCOMPARE(reg({u"delete"_qs, u"HKCU\\Software\\Test\\Sub"_qs, u"/ve"_qs, u"/f"_qs}).exitCode, 0);
        QVERIFY(registry.values(Hive::CurrentUser, u"Software\\Test\\Sub"_qs).isEmpty());

        QCOMPARE(
            reg({u"add"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"Other"_qs, u"/d"_qs, u"o"_qs}).exitCode,
            0);
        // Without a terminal the tool does not ask (scripts could not answer).
        QCOMPARE(reg({u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/va"_qs}).exitCode, 0);
        QVERIFY(registry.values(Hive::CurrentUser, u"Software\\Test"_qs).isEmpty());
        QVERIFY(registry.keyExists(Hive::CurrentUser, u"Software\\Test\\Sub"_qs));

        QCOMPARE(reg({u"delete"_qs, u"HKCU\\software\\test"_qs}).exitCode, 0);
        QVERIFY(!registry.keyExists(Hive::CurrentUser, u"Software\\Test"_qs));
        QVERIFY(registry.keyExists(Hive::CurrentUser, u"Software"_qs));
    }

    void addOverwritesWithoutATerminal() {
        TestEnvironment env;
        fillTestTree();
        const Run run =
            reg({u"add"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"Name"_qs, u"/d"_qs, u"new"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"Software\\Test"_qs, u"Name"_qs)->text,
                 u"new"_qs);
    }

    void exportThenImportRestoresTheTree() {
        TestEnvironment env;
        fillTestTree();
        const QString odd = u"two\nlines \"quoted\" C:\\path\\ räksmörgås"_qs;
        QCOMPARE(
            reg({u"add"_qs, u"HKCU\\Software\\Test\\Sub"_qs, u"/v"_qs, u"Odd"_qs, u"/d"_qs, odd}).exitCode,
            0);
        const QString exported = env.path(u"test.reg"_qs);
        Run run = reg({u"export"_qs, u"HKCU\\Software\\Test"_qs, exported});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kDone);
        QFile file(exported);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(
            text.startsWith("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Test]\n"));
        QVERIFY(!text.contains("[HKEY_CURRENT_USER\\Software]"));

        QCOMPARE(reg({u"export"_qs, u"HKCU\\Software\\Test"_qs, exported, u"/y"_qs}).exitCode, 0);
        QCOMPARE(reg({u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/f"_qs}).exitCode, 0);
        QVERIFY(!RegFileRegistry().keyExists(Hive::CurrentUser, u"Software\\Test"_qs));

        run = reg({u"import"_qs, exported});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kDone);
        RegFileRegistry registry;
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test\\Sub"_qs, u"Odd"_qs)->text, odd);
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test\\Sub"_qs, QString())->text, u"deflt"_qs);
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test"_qs, u"Count"_qs)->dword, 42u);
        QVERIFY(registry.keyExists(Hive::CurrentUser, u"Software\\Test\\Empty"_qs));
    }

    void importReachesBothHivesAndDeletes() {
        TestEnvironment env;
        fillTestTree();
        const QString file = env.writeFile(u"in.reg"_qs, "Windows Registry Editor Version 5.00\r\n\r\n"
                                                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvo\\X\\XRay]\r\n"
                                                         "\"Format\"=\"DCM\"\r\n\r\n"
                                                         "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                                         "\"Name\"=-\r\n\r\n"
                                                         "[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n");
        const Run run = reg({u"import"_qs, file});
        QCOMPARE(run.exitCode, 0);
        RegFileRegistry registry;
        QCOMPARE(registry.value(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\X\\XRay"_qs, u"Format"_qs)->text,
                 u"DCM"_qs);
        QVERIFY(!registry.value(Hive::CurrentUser, u"Software\\Test"_qs, u"Name"_qs));
        QVERIFY(!registry.keyExists(Hive::CurrentUser, u"Software\\Test\\Sub"_qs));
    }

    void importOfABadFileChangesNothing() {
        TestEnvironment env;
        const QString file = env.writeFile(u"bad.reg"_qs, "Windows Registry Editor Version 5.00\n\n"
                                                          "[HKEY_CURRENT_USER\\Software\\A]\n"
                                                          "\"Good\"=\"1\"\n"
                                                          "\"Bad\"=\"unterminated\n");
        const Run run = reg({u"import"_qs, file});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(u"ERROR: "_qs + file + u", line 5: "_qs), qPrintable(run.err));
        QVERIFY(!RegFileRegistry().keyExists(Hive::CurrentUser, u"Software\\A"_qs));
    }

    void damagedHiveIsReported() {
        TestEnvironment env;
        const QString hive =
            env.writeFile(u"config/kelvo/HKEY_CURRENT_USER.reg"_qs,
                          "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"x\n");
        Run run = reg({u"query"_qs, u"HKCU\\A"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(u"ERROR: "_qs + hive + u", line 4: "_qs), qPrintable(run.err));

        run = reg({u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"y"_qs, u"/d"_qs, u"1"_qs});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(u"kept as "_qs + hive + u".corrupt-"_qs), qPrintable(run.err));
        QCOMPARE(reg({u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"y"_qs, u"/d"_qs, u"1"_qs}).exitCode, 0);
    }

    void refusedWriteShowsTheSystemsText() {
        TestEnvironment env;
        const auto open =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(env.root(), open));
        const QString machine = env.path(u"machine"_qs);
        if (::geteuid() != 0)
            QVERIFY(QFile::setPermissions(machine, QFile::ReadOwner | QFile::ExeOwner));
        const Run run =
            reg({u"add"_qs, u"HKLM\\SOFTWARE\\Kelvo"_qs, u"/v"_qs, u"x"_qs, u"/d"_qs, u"1"_qs}, true);
        QFile::setPermissions(machine, open);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, u"ERROR: "_qs + qt_error_string(EACCES) + u'\n');
        QVERIFY(!QFile::exists(RegFileRegistry::hiveFile(Hive::LocalMachine)));
    }

    void parallelAddsLoseNothing() {
        TestEnvironment env;
        const int workers = 4;
        const int valuesEach = 25;
        std::vector<std::unique_ptr<QProcess>> shells;
        for (int w = 0; w < workers; ++w) {
            // Each worker adds its values one ravlek-reg process after another.
            const QString script =
                u"for i in $(seq 1 %1); do \"$0\" add 'HKCU\\Software\\Parallel' /v w%2_$i /d $i /f "
                u">/dev/null || exit 1; done"_qs.arg(valuesEach)
                    .arg(w);
            auto shell = std::make_unique<QProcess>();
            shell->start(u"sh"_qs, {u"-c"_qs, script, programPath(u"ravlek-reg"_qs)});
            shells.push_back(std::move(shell));
        }
        for (auto& shell : shells) {
            QVERIFY(shell->waitForFinished(300000));
            QCOMPARE(shell->exitCode(), 0);
        }
        RegFileRegistry registry;
        QCOMPARE(registry.values(Hive::CurrentUser, u"Software\\Parallel"_qs).size(), workers * valuesEach);
        for (int w = 0; w < workers; ++w) {
            for (int i = 1; i <= valuesEach; ++i) {
                const auto value =
                    registry.value(Hive::CurrentUser, u"Software\\Parallel"_qs, u"w%1_%2"_qs.arg(w).arg(i));
                QVERIFY(value.has_value());
                QCOMPARE(value->text, QString::number(i));
            }
        }
    }

    // At a terminal the tool asks first; "no" leaves everything as it was.
    void questionsAtATerminal_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("question");
        QTest::newRow("overwrite a value")
            << QStringList{u"add"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"Name"_qs, u"/d"_qs, u"new"_qs}
            << u"Value Name exists, overwrite(Yes/No)? "_qs;
        QTest::newRow("delete a value")
            << QStringList{u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/v"_qs, u"Name"_qs}
            << u"Delete the registry value Name (Yes/No)? "_qs;
        QTest::newRow("delete all values") << QStringList{u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/va"_qs}
                                           << u"Delete all values under the registry key "
                                              u"HKEY_CURRENT_USER\\Software\\Test (Yes/No)? "_qs;
        QTest::newRow("delete a key")
            << QStringList{u"delete"_qs, u"HKCU\\software\\test"_qs}
            << u"Permanently delete the registry key HKEY_CURRENT_USER\\Software\\Test "
               u"(Yes/No)? "_qs;
    }
    void questionsAtATerminal() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, question);
        TestEnvironment env;
        fillTestTree();
        const QByteArray before = [] {
            QFile file(RegFileRegistry::hiveFile(Hive::CurrentUser));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QStringList asked;
        RegToolConsole console{outStream, errStream, [&](const QString& text) {
                                   asked.append(text);
                                   return false;
                               }};
        QCOMPARE(RunRegTool(arguments, console), 1);
        QCOMPARE(asked, QStringList{question});
        QCOMPARE(out, u"The operation was canceled by the user.\n"_qs);
        QFile file(RegFileRegistry::hiveFile(Hive::CurrentUser));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);

        // With /f nothing is asked.
        asked.clear();
        QCOMPARE(RunRegTool(arguments + QStringList{u"/f"_qs}, console), 0);
        QVERIFY(asked.isEmpty());
    }

    void help() {
        const Run run = reg({u"add"_qs, u"/?"_qs});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(u"ravlek-reg ADD KeyName"_qs));
    }
};

QTEST_GUILESS_MAIN(TestRavlekReg)
#include "tst_ravlekreg.moc"
