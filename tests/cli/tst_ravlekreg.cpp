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

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A text as the registry editor stores an export: UTF-16LE after a byte-order mark.
QByteArray utf16Export(const QString& text) {
    return QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
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
        QCOMPARE(RegFileRegistry()
                     .value(Hive::LocalMachine, u"SOFTWARE\\Soredex\\Dsd\\Uid"_qs, u"ScIP"_qs)
                     ->text(),
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
        QTest::newRow("unknown type")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs, u"/t"_qs, u"REG_TEXT"_qs}
            << u"ERROR: Invalid value type \"REG_TEXT\": use REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, "
               u"REG_QWORD, REG_BINARY or REG_NONE.\n"_qs;
        QTest::newRow("qword beyond 64 bits")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs,   u"/v"_qs, u"n"_qs,
                           u"/t"_qs,  u"REG_QWORD"_qs, u"/d"_qs, u"18446744073709551616"_qs}
            << u"ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n"_qs;
        QTest::newRow("binary that is not hex")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs,    u"/v"_qs, u"n"_qs,
                           u"/t"_qs,  u"REG_BINARY"_qs, u"/d"_qs, u"0x12"_qs}
            << u"ERROR: Invalid syntax. Specify valid hexadecimal data for '/d'.\n"_qs;
        QTest::newRow("empty text inside a list")
            << QStringList{u"add"_qs, u"HKCU\\A"_qs,      u"/v"_qs, u"n"_qs,
                           u"/t"_qs,  u"REG_MULTI_SZ"_qs, u"/d"_qs, u"a\\0\\0b"_qs}
            << u"ERROR: Invalid syntax. Only the last text of a REG_MULTI_SZ list may be empty.\n"_qs;
        QTest::newRow("separator of two characters")
            << QStringList{u"add"_qs,          u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs,  u"/t"_qs,
                           u"REG_MULTI_SZ"_qs, u"/s"_qs,      u"##"_qs, u"/d"_qs, u"a##b"_qs}
            << u"ERROR: Invalid syntax. Specify one character as the separator.\n"_qs;
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
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"A"_qs, u"n"_qs)->dword(), number);
    }

    // Every type reg add knows: stored, shown by query the way reg shows it, exported the way
    // the registry editor writes it, and brought back whole by an import of that export.
    void valueTypes_data() {
        QTest::addColumn<QStringList>("options"); // after "add HKCU\A /v n"
        QTest::addColumn<QString>("shown");       // type and data as query shows them
        QTest::addColumn<QString>("exported");    // the value's line in an export
        QTest::newRow("REG_SZ") << QStringList{u"/t"_qs, u"REG_SZ"_qs, u"/d"_qs, u"C:\\Temp"_qs}
                                << u"REG_SZ    C:\\Temp"_qs << u"\"n\"=\"C:\\\\Temp\""_qs;
        QTest::newRow("REG_EXPAND_SZ")
            << QStringList{u"/t"_qs, u"reg_expand_sz"_qs, u"/d"_qs, u"%TEMP%\\x"_qs}
            << u"REG_EXPAND_SZ    %TEMP%\\x"_qs
            << u"\"n\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00"_qs;
        QTest::newRow("REG_MULTI_SZ")
            << QStringList{u"/t"_qs, u"REG_MULTI_SZ"_qs, u"/d"_qs, u"a\\0bc"_qs}
            << u"REG_MULTI_SZ    a\\0bc"_qs << u"\"n\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00"_qs;
        QTest::newRow("REG_MULTI_SZ with a separator of its own")
            << QStringList{u"/t"_qs, u"REG_MULTI_SZ"_qs, u"/s"_qs, u","_qs, u"/d"_qs, u"a,bc"_qs}
            << u"REG_MULTI_SZ    a\\0bc"_qs << u"\"n\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00"_qs;
        QTest::newRow("REG_MULTI_SZ ending in a separator")
            << QStringList{u"/t"_qs, u"REG_MULTI_SZ"_qs, u"/d"_qs, u"a\\0"_qs} << u"REG_MULTI_SZ    a"_qs
            << u"\"n\"=hex(7):61,00,00,00,00,00"_qs;
        QTest::newRow("empty REG_MULTI_SZ") << QStringList{u"/t"_qs, u"REG_MULTI_SZ"_qs, u"/d"_qs, QString()}
                                            << u"REG_MULTI_SZ    "_qs << u"\"n\"=hex(7):00,00"_qs;
        QTest::newRow("REG_BINARY") << QStringList{u"/t"_qs, u"REG_BINARY"_qs, u"/d"_qs, u"00ff1A"_qs}
                                    << u"REG_BINARY    00FF1A"_qs << u"\"n\"=hex:00,ff,1a"_qs;
        QTest::newRow("REG_BINARY of an odd number of digits")
            << QStringList{u"/t"_qs, u"REG_BINARY"_qs, u"/d"_qs, u"abc"_qs} << u"REG_BINARY    0ABC"_qs
            << u"\"n\"=hex:0a,bc"_qs;
        QTest::newRow("empty REG_BINARY")
            << QStringList{u"/t"_qs, u"REG_BINARY"_qs} << u"REG_BINARY    "_qs << u"\"n\"=hex:"_qs;
        QTest::newRow("REG_QWORD") << QStringList{u"/t"_qs, u"REG_QWORD"_qs, u"/d"_qs,
                                                  u"0x1122334455667788"_qs}
                                   << u"REG_QWORD    0x1122334455667788"_qs
                                   << u"\"n\"=hex(b):88,77,66,55,44,33,22,11"_qs;
        QTest::newRow("largest REG_QWORD")
            << QStringList{u"/t"_qs, u"REG_QWORD"_qs, u"/d"_qs, u"18446744073709551615"_qs}
            << u"REG_QWORD    0xffffffffffffffff"_qs << u"\"n\"=hex(b):ff,ff,ff,ff,ff,ff,ff,ff"_qs;
        QTest::newRow("REG_NONE") << QStringList{u"/t"_qs, u"REG_NONE"_qs, u"/d"_qs, u"x"_qs}
                                  << u"REG_NONE    78000000"_qs << u"\"n\"=hex(0):78,00,00,00"_qs;
        QTest::newRow("REG_DWORD") << QStringList{u"/t"_qs, u"REG_DWORD"_qs, u"/d"_qs, u"42"_qs}
                                   << u"REG_DWORD    0x2a"_qs << u"\"n\"=dword:0000002a"_qs;
    }
    void valueTypes() {
        QFETCH(QStringList, options);
        QFETCH(QString, shown);
        QFETCH(QString, exported);
        TestEnvironment env;
        Run run = reg(QStringList{u"add"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs} + options);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        const QString queried = u"\nHKEY_CURRENT_USER\\A\n    n    "_qs + shown + u"\n\n"_qs;
        QCOMPARE(reg({u"query"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs}).out, queried);

        const QString file = env.path(u"a.reg"_qs);
        QCOMPARE(reg({u"export"_qs, u"HKCU\\A"_qs, file}).exitCode, 0);
        const QString text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"_qs +
                             exported + u"\r\n\r\n"_qs;
        QCOMPARE(readFile(file), utf16Export(text));

        QCOMPARE(reg({u"delete"_qs, u"HKCU\\A"_qs, u"/f"_qs}).exitCode, 0);
        QCOMPARE(reg({u"import"_qs, file}).exitCode, 0);
        QCOMPARE(reg({u"query"_qs, u"HKCU\\A"_qs, u"/v"_qs, u"n"_qs}).out, queried);
    }

    // A genuine export of the registry editor holding a value of every type (UTF-16LE with a
    // byte-order mark, CR LF, hex data wrapped at 80 columns): imported, shown the way reg
    // shows it, kept by the store while other values change, and exported byte for byte.
    void regeditExportRoundTrips() {
        TestEnvironment env;
        const QString fixture = QFINDTESTDATA("data/regedit-every-type.reg");
        QVERIFY(!fixture.isEmpty());
        const QString key = u"HKCU\\Software\\Kelvo Exempel"_qs;
        Run run = reg({u"import"_qs, fixture});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);

        run = reg({u"query"_qs, key});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.out,
                 u"\nHKEY_CURRENT_USER\\Software\\Kelvo Exempel\n"
                 u"    (Default)    REG_SZ    Standardvärde\n"
                 u"    Sökväg    REG_SZ    C:\\Program Files\\Kelvo \"Suite\"\\\n"
                 u"    Antal    REG_DWORD    0x2a\n"
                 u"    Miljö    REG_EXPAND_SZ    %ProgramFiles%\\Kelvo\\Röntgen;%SystemRoot%\\System32\n"
                 u"    Lista    REG_MULTI_SZ    Digora\\0Digora OPTIME\\0Cranex D\\0Sopix\n"
                 u"    Data    REG_BINARY    000306090C0F1215181B1E2124272A2D303336393C3F4245484B4E5154"
                 u"575A5D606366696C6F7275787B7E8184878A8D909396999C9FA2A5A8ABAEB1B4B7BABDC0C3C6C9CCCF"
                 u"D2D5D8DBDEE1E4E7EAEDF0F3F6F9FCFF\n"
                 u"    Stor    REG_QWORD    0x123456789abcdef\n"
                 u"    Inget    REG_NONE    \n"
                 u"    Inget med data    REG_NONE    DEADBEEF\n"
                 u"    Storändian    REG_DWORD_BIG_ENDIAN    0x2a\n"
                 u"    Länk    REG_LINK    \\Registry\\Machine\\Software\\Kelvo\n"
                 u"    Resurser    REG_RESOURCE_LIST    010000000000000000000000\n"
                 u"    Egen typ    0x100000    010203\n"
                 u"    Kort dword    REG_DWORD    0100\n\n"
                 u"HKEY_CURRENT_USER\\Software\\Kelvo Exempel\\Tom\n"
                 u"HKEY_CURRENT_USER\\Software\\Kelvo Exempel\\Underkategori\n"_qs);

        // Changes around them leave every value as it was.
        QCOMPARE(reg({u"add"_qs, key, u"/v"_qs, u"Ny"_qs, u"/d"_qs, u"1"_qs, u"/f"_qs}).exitCode, 0);
        QCOMPARE(reg({u"delete"_qs, key, u"/v"_qs, u"Ny"_qs, u"/f"_qs}).exitCode, 0);

        const QString exported = env.path(u"exported.reg"_qs);
        run = reg({u"export"_qs, key, exported});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(exported), readFile(fixture));

        // The export imports into a hive that had nothing, and exports the same again.
        QCOMPARE(reg({u"delete"_qs, key, u"/f"_qs}).exitCode, 0);
        QCOMPARE(reg({u"import"_qs, exported}).exitCode, 0);
        const QString again = env.path(u"again.reg"_qs);
        QCOMPARE(reg({u"export"_qs, key, again}).exitCode, 0);
        QCOMPARE(readFile(again), readFile(fixture));
    }

    // An import file as people write them for regedit: UTF-16LE, CR LF, a value that removes
    // a value, a key that removes a key, and continued hex data.
    void importOfAChangeFile() {
        TestEnvironment env;
        fillTestTree();
        const QString file = env.path(u"change.reg"_qs);
        writeBytes(file, utf16Export(u"Windows Registry Editor Version 5.00\r\n\r\n"
                                     u"[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n\r\n"
                                     u"[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                     u"\"Name\"=-\r\n"
                                     u"\"List\"=hex(7):4f,00,6e,00,65,00,00,00,54,00,77,00,6f,00,00,00,\\\r\n"
                                     u"  00,00\r\n"
                                     u"\"Gone\"=-\r\n\r\n"
                                     u"[-HKEY_CURRENT_USER\\Software\\Never there]\r\n\r\n"_qs));
        const Run run = reg({u"import"_qs, file});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(reg({u"query"_qs, u"HKCU\\Software\\Test"_qs}).out,
                 u"\nHKEY_CURRENT_USER\\Software\\Test\n"
                 u"    Count    REG_DWORD    0x2a\n"
                 u"    List    REG_MULTI_SZ    One\\0Two\n\n"
                 u"HKEY_CURRENT_USER\\Software\\Test\\Empty\n"_qs);
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
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"Software\\Test"_qs, u"Name"_qs)->text(),
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
        // As reg writes it: UTF-16LE with a byte-order mark and CR LF, the exported key first.
        const QByteArray text = readFile(exported);
        QVERIFY(text.startsWith(utf16Export(
            u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Test]\r\n"_qs)));
        QVERIFY(!text.contains(utf16Export(u"[HKEY_CURRENT_USER\\Software]"_qs).mid(2)));

        QCOMPARE(reg({u"export"_qs, u"HKCU\\Software\\Test"_qs, exported, u"/y"_qs}).exitCode, 0);
        QCOMPARE(reg({u"delete"_qs, u"HKCU\\Software\\Test"_qs, u"/f"_qs}).exitCode, 0);
        QVERIFY(!RegFileRegistry().keyExists(Hive::CurrentUser, u"Software\\Test"_qs));

        run = reg({u"import"_qs, exported});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, kDone);
        RegFileRegistry registry;
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test\\Sub"_qs, u"Odd"_qs)->text(), odd);
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test\\Sub"_qs, QString())->text(),
                 u"deflt"_qs);
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Test"_qs, u"Count"_qs)->dword(), 42u);
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
        QCOMPARE(registry.value(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\X\\XRay"_qs, u"Format"_qs)->text(),
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
                QCOMPARE(value->text(), QString::number(i));
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
