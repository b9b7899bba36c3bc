#include "TestEnvironment.h"

#include "platform/RegFileRegistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Hive;
using platform::RegFileRegistry;
using platform::RegResult;
using platform::RegType;
using platform::RegValue;

namespace {

RegValue text(const QString& name, const QString& data) {
    return RegValue::ofText(name, data);
}

RegValue dword(const QString& name, quint32 data) {
    return RegValue::ofDWord(name, data);
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs one of our programs; `unprivileged` runs it as "nobody" when the test runs as root
// (root ignores file permissions).
Run runProgram(const QString& name, const QStringList& arguments, bool unprivileged = false) {
    QString program = programPath(name);
    QStringList args = arguments;
    if (unprivileged && ::geteuid() == 0) {
        args = QStringList{u"--reuid=nobody"_qs, u"--regid=nogroup"_qs, u"--clear-groups"_qs, program} + args;
        program = u"setpriv"_qs;
    }
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000))
        qFatal("%s did not finish", qPrintable(name));
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QStringList setAsideFiles(const QString& hiveFile) {
    const QFileInfo info(hiveFile);
    return QDir(info.path()).entryList({info.fileName() + u".corrupt-*"_qs}, QDir::Files);
}

const QString kKey = u"SOFTWARE\\Kelvo\\Test\\XRay"_qs;

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hiveFilesFollowTheEnvironment() {
        TestEnvironment env;
        QCOMPARE(RegFileRegistry::hiveFile(Hive::CurrentUser),
                 env.path(u"config/kelvo/HKEY_CURRENT_USER.reg"_qs));
        QCOMPARE(RegFileRegistry::hiveFile(Hive::LocalMachine),
                 env.path(u"machine/HKEY_LOCAL_MACHINE.reg"_qs));
        QCOMPARE(RegFileRegistry::openKeysFile(), env.path(u"machine-open-keys/HKEY_LOCAL_MACHINE.reg"_qs));
        env.setVariable("KELVO_OPEN_KEYS_DIR", env.path(u"open"_qs));
        QCOMPARE(RegFileRegistry::openKeysFile(), env.path(u"open/HKEY_LOCAL_MACHINE.reg"_qs));
        env.setVariable("KELVO_OPEN_KEYS_DIR", QString());
        env.setVariable("KELVO_MACHINE_DIR", QString());
        env.setVariable("XDG_CONFIG_HOME", QString());
        env.setVariable("HOME", env.path(u"home"_qs));
        QCOMPARE(RegFileRegistry::hiveFile(Hive::LocalMachine), u"/etc/kelvo/HKEY_LOCAL_MACHINE.reg"_qs);
        QCOMPARE(RegFileRegistry::openKeysFile(), u"/var/lib/kelvo/open-keys/HKEY_LOCAL_MACHINE.reg"_qs);
        QCOMPARE(RegFileRegistry::hiveFile(Hive::CurrentUser),
                 env.path(u"home/.config/kelvo/HKEY_CURRENT_USER.reg"_qs));
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("data");
        QTest::newRow("plain") << u"Preview"_qs << u"1"_qs;
        QTest::newRow("empty text") << u"Empty"_qs << QString();
        QTest::newRow("default value") << QString() << u"the default"_qs;
        QTest::newRow("blanks kept") << u"Spaces"_qs << u"  1  "_qs;
        QTest::newRow("quotes and backslashes") << u"Q\"u\\ote"_qs << u"C:\\Dir\\\"x\"\\"_qs;
        QTest::newRow("ends in a backslash") << u"Path"_qs << u"D:\\Dental Apps\\"_qs;
        QTest::newRow("newlines") << u"Lines"_qs << u"one\ntwo\r\nthree\r"_qs;
        QTest::newRow("tab and control") << u"Ctl"_qs << u"a\tb\x01\x1f\x7f"_qs;
        QTest::newRow("embedded NUL") << u"Nul"_qs << QString::fromUtf16(u"a\0b\0", 4);
        QTest::newRow("Swedish and beyond") << u"Åtgärd"_qs << u"räksmörgås 𝄞 日本"_qs;
        QTest::newRow("lone surrogate") << u"Half"_qs << QString(QChar(0xd800)) + u"x"_qs;
        QTest::newRow("brackets and equals in the name") << u"[a]=b;c"_qs << u"[HKEY_CURRENT_USER\\x]"_qs;
        QTest::newRow("at sign as a name") << u"@"_qs << u"not the default"_qs;
        QTest::newRow("looks like a header") << u"H"_qs << u"Windows Registry Editor Version 5.00"_qs;
        QTest::newRow("long hex text") << u"Long"_qs << QString(300, u'\n');
    }
    void valuesRoundTrip() {
        QFETCH(QString, name);
        QFETCH(QString, data);
        TestEnvironment env;
        RegFileRegistry writer;
        QVERIFY(writer.setValue(Hive::CurrentUser, kKey, text(u"Before"_qs, u"b"_qs)).ok);
        const RegResult result = writer.setValue(Hive::CurrentUser, kKey, text(name, data));
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(writer.setValue(Hive::CurrentUser, kKey, text(u"After"_qs, u"a"_qs)).ok);

        RegFileRegistry reader; // reads the file afresh
        QVERIFY(reader.hiveStatus(Hive::CurrentUser).ok);
        const auto stored = reader.value(Hive::CurrentUser, kKey, name);
        QVERIFY(stored.has_value());
        QCOMPARE(stored->type, RegType::String);
        QCOMPARE(stored->text(), data);
        QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"Before"_qs)->text(), u"b"_qs);
        QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"After"_qs)->text(), u"a"_qs);
        QCOMPARE(reader.values(Hive::CurrentUser, kKey).size(), 3);
    }

    void dwordsRoundTrip_data() {
        QTest::addColumn<quint32>("number");
        QTest::newRow("zero") << 0u;
        QTest::newRow("ten") << 10u;
        QTest::newRow("largest") << 0xffffffffu;
    }
    void dwordsRoundTrip() {
        QFETCH(quint32, number);
        TestEnvironment env;
        QVERIFY(RegFileRegistry().setValue(Hive::LocalMachine, kKey, dword(u"NetMode"_qs, number)).ok);
        const auto stored = RegFileRegistry().value(Hive::LocalMachine, kKey, u"netmode"_qs);
        QVERIFY(stored.has_value());
        QCOMPARE(stored->type, RegType::DWord);
        QCOMPARE(stored->dword(), number);
        QVERIFY(readFile(RegFileRegistry::hiveFile(Hive::LocalMachine))
                    .contains("\"NetMode\"=dword:" + QByteArray::number(number, 16).rightJustified(8, '0')));
    }

    void fileIsRegeditText() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::CurrentUser, u"Software\\Kelvo"_qs, text(u"A"_qs, u"x\"y"_qs)).ok);
        QVERIFY(registry.setValue(Hive::CurrentUser, u"Software\\Kelvo"_qs, text(QString(), u"d"_qs)).ok);
        QCOMPARE(readFile(RegFileRegistry::hiveFile(Hive::CurrentUser)),
                 QByteArray("Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\Software]\n\n"
                            "[HKEY_CURRENT_USER\\Software\\Kelvo]\n"
                            "@=\"d\"\n"
                            "\"A\"=\"x\\\"y\"\n\n"));
        QCOMPARE(modeOf(RegFileRegistry::hiveFile(Hive::CurrentUser)), mode_t(0600));
    }

    void namesIgnoreLetterCase() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(
            registry.setValue(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\XRay"_qs, text(u"Preview"_qs, u"1"_qs))
                .ok);
        QVERIFY(
            registry.setValue(Hive::CurrentUser, u"software\\KELVO\\xray"_qs, text(u"PREVIEW"_qs, u"0"_qs))
                .ok);
        QVERIFY(registry.setValue(Hive::CurrentUser, u"Software\\Kelvo\\ÅÄÖ"_qs, text(u"Ä"_qs, u"x"_qs)).ok);

        RegFileRegistry reader;
        const QList<RegValue> values = reader.values(Hive::CurrentUser, u"SoftWare\\kelvo\\XRAY"_qs);
        QCOMPARE(values.size(), 1);
        QCOMPARE(values[0].name, u"Preview"_qs); // the spelling first used
        QCOMPARE(values[0].text(), u"0"_qs);     // the data last written
        QCOMPARE(reader.subKeys(Hive::CurrentUser, u"SOFTWARE\\KELVO"_qs),
                 QStringList({u"XRay"_qs, u"ÅÄÖ"_qs}));
        QCOMPARE(reader.value(Hive::CurrentUser, u"software\\kelvo\\åäö"_qs, u"ä"_qs)->text(), u"x"_qs);
        QVERIFY(reader.keyExists(Hive::CurrentUser, u"\\software\\\\kelvo\\"_qs));
        QVERIFY(!reader.keyExists(Hive::LocalMachine, u"software\\kelvo"_qs));
    }

    void keysAndDeletion() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.createKey(Hive::CurrentUser, u"A\\B\\C"_qs).ok);
        QVERIFY(registry.setValue(Hive::CurrentUser, u"A\\B"_qs, text(u"v"_qs, u"1"_qs)).ok);
        QVERIFY(registry.setValue(Hive::CurrentUser, u"A\\B"_qs, text(u"w"_qs, u"2"_qs)).ok);
        QVERIFY(registry.keyExists(Hive::CurrentUser, u"A\\B\\C"_qs));
        QVERIFY(registry.values(Hive::CurrentUser, u"A\\B\\C"_qs).isEmpty());

        QVERIFY(registry.deleteValue(Hive::CurrentUser, u"A\\B"_qs, u"V"_qs).ok);
        QVERIFY(!registry.value(Hive::CurrentUser, u"A\\B"_qs, u"v"_qs));
        QCOMPARE(registry.value(Hive::CurrentUser, u"A\\B"_qs, u"w"_qs)->text(), u"2"_qs);
        QVERIFY(!registry.deleteValue(Hive::CurrentUser, u"A\\B"_qs, u"v"_qs).ok);
        QVERIFY(!registry.deleteKey(Hive::CurrentUser, u"A\\X"_qs).ok);
        QVERIFY(!registry.deleteKey(Hive::CurrentUser, QString()).ok);

        QVERIFY(registry.deleteKey(Hive::CurrentUser, u"a\\b"_qs).ok);
        RegFileRegistry reader;
        QVERIFY(reader.keyExists(Hive::CurrentUser, u"A"_qs));
        QVERIFY(!reader.keyExists(Hive::CurrentUser, u"A\\B"_qs));
        QVERIFY(!reader.keyExists(Hive::CurrentUser, u"A\\B\\C"_qs));
    }

    void namesWithoutATextFormAreRefused() {
        TestEnvironment env;
        RegFileRegistry registry;
        const RegResult result = registry.setValue(Hive::CurrentUser, kKey, text(u"two\nlines"_qs, u"x"_qs));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, qt_error_string(EINVAL));
        QVERIFY(!registry.createKey(Hive::CurrentUser, u"a\tb"_qs).ok);
        QVERIFY(!QFile::exists(RegFileRegistry::hiveFile(Hive::CurrentUser)));
    }

    // As on Windows, a key is at most 512 levels deep.
    void keyDepthIsLimited() {
        TestEnvironment env;
        RegFileRegistry registry;
        const QString deepest = QStringList(512, u"k"_qs).join(u'\\');
        QVERIFY(registry.setValue(Hive::CurrentUser, deepest, text(u"A"_qs, u"1"_qs)).ok);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, deepest, u"A"_qs)->text(), u"1"_qs);
        const RegResult deeper = registry.createKey(Hive::CurrentUser, deepest + u"\\k"_qs);
        QVERIFY(!deeper.ok);
        QCOMPARE(deeper.error, qt_error_string(EINVAL));
        QVERIFY(!registry.keyExists(Hive::CurrentUser, deepest + u"\\k"_qs));
    }

    void handWrittenFilesAreRead_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray body = "; a comment\r\n"
                                "\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Kelvo]\r\n"
                                "\"Text\" = \"hello\"\r\n"
                                "\"Number\"=dword:0000002A\r\n"
                                "\"Hex\"=hex(4):2a,00,00,00\r\n"
                                "\"Wrapped\"=hex(1):68,00,\\\r\n"
                                "    69,00,00,00\r\n"
                                "\"Gone\"=\"x\"\r\n"
                                "\"Gone\"=-\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Old]\r\n"
                                "[-HKEY_CURRENT_USER\\Software\\Old]\r\n";
        QTest::newRow("UTF-8 with CR LF") << "Windows Registry Editor Version 5.00\r\n\r\n" + body;
        QTest::newRow("UTF-8 with a byte-order mark")
            << "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n" + body;
        const QString wide = u"Windows Registry Editor Version 5.00\r\n"_qs + QString::fromUtf8(body);
        QTest::newRow("UTF-16LE as regedit exports")
            << QByteArray("\xff\xfe") +
                   QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
    }
    void handWrittenFilesAreRead() {
        QFETCH(QByteArray, file);
        TestEnvironment env;
        writeFile(RegFileRegistry::hiveFile(Hive::CurrentUser), file);
        RegFileRegistry registry;
        QVERIFY2(registry.hiveStatus(Hive::CurrentUser).ok,
                 qPrintable(registry.hiveStatus(Hive::CurrentUser).error));
        const QString key = u"Software\\Kelvo"_qs;
        QCOMPARE(registry.value(Hive::CurrentUser, key, u"Text"_qs)->text(), u"hello"_qs);
        QCOMPARE(registry.value(Hive::CurrentUser, key, u"Number"_qs)->dword(), 42u);
        QCOMPARE(registry.value(Hive::CurrentUser, key, u"Hex"_qs)->dword(), 42u);
        QCOMPARE(registry.value(Hive::CurrentUser, key, u"Wrapped"_qs)->text(), u"hi"_qs);
        QVERIFY(!registry.value(Hive::CurrentUser, key, u"Gone"_qs));
        QVERIFY(!registry.keyExists(Hive::CurrentUser, u"Software\\Old"_qs));
        // A change keeps everything that was there.
        QVERIFY(registry.setValue(Hive::CurrentUser, key, text(u"New"_qs, u"n"_qs)).ok);
        RegFileRegistry reader;
        QCOMPARE(reader.value(Hive::CurrentUser, key, u"Wrapped"_qs)->text(), u"hi"_qs);
        QCOMPARE(reader.values(Hive::CurrentUser, key).size(), 5);
    }

    // Empty parts of a key line are ignored as in every key path, a leading "\\" included:
    // the key lies where its hive's name says.
    void keyLineWithEmptyParts_data() {
        QTest::addColumn<QByteArray>("keyLine");
        QTest::newRow("leading backslash") << QByteArray("[\\HKEY_CURRENT_USER\\Software\\Kelvo]");
        QTest::newRow("doubled and trailing") << QByteArray("[HKEY_CURRENT_USER\\\\Software\\Kelvo\\]");
        QTest::newRow("short hive name") << QByteArray("[\\HKCU\\Software\\Kelvo]");
    }
    void keyLineWithEmptyParts() {
        QFETCH(QByteArray, keyLine);
        TestEnvironment env;
        writeFile(RegFileRegistry::hiveFile(Hive::CurrentUser),
                  "Windows Registry Editor Version 5.00\n\n" + keyLine + "\n\"A\"=\"1\"\n");
        RegFileRegistry registry;
        QVERIFY(registry.hiveStatus(Hive::CurrentUser).ok);
        QCOMPARE(registry.subKeys(Hive::CurrentUser, QString()), QStringList{u"Software"_qs});
        QCOMPARE(registry.value(Hive::CurrentUser, u"Software\\Kelvo"_qs, u"A"_qs)->text(), u"1"_qs);
    }

    // Every value type, and data that does not follow its type's form, comes back exactly.
    void everyValueTypeRoundTrips_data() {
        QTest::addColumn<RegValue>("value");
        QByteArray everyByte;
        for (int i = 0; i < 256; ++i)
            everyByte.append(char(i));
        const auto bytes = [](RegType type, const QByteArray& data) {
            return RegValue::ofBytes(u"v"_qs, type, data);
        };
        QTest::newRow("REG_EXPAND_SZ")
            << RegValue::ofText(u"v"_qs, u"%SystemRoot%\\x"_qs, RegType::ExpandString);
        QTest::newRow("REG_EXPAND_SZ with a line break")
            << RegValue::ofText(u"v"_qs, u"a\r\nb"_qs, RegType::ExpandString);
        QTest::newRow("REG_MULTI_SZ") << RegValue::ofTexts(u"v"_qs, {u"Digora"_qs, u"Cranex D"_qs, u"Ö"_qs});
        QTest::newRow("empty REG_MULTI_SZ") << RegValue::ofTexts(u"v"_qs, {});
        QTest::newRow("REG_BINARY of every byte") << bytes(RegType::Binary, everyByte);
        QTest::newRow("empty REG_BINARY") << bytes(RegType::Binary, {});
        QTest::newRow("REG_QWORD") << RegValue::ofQWord(u"v"_qs, 0x0123456789abcdefULL);
        QTest::newRow("REG_NONE") << bytes(RegType::None, {});
        QTest::newRow("REG_NONE with data") << bytes(RegType::None, "\xde\xad");
        QTest::newRow("REG_LINK") << bytes(RegType::Link, QByteArray("\\\0R\0", 4));
        QTest::newRow("type of its own") << bytes(RegType(0x80000001u), "\x01\x02\x03");
        QTest::newRow("REG_SZ without its NUL") << bytes(RegType::String, QByteArray("a\0b\0", 4));
        QTest::newRow("REG_SZ of an odd length") << bytes(RegType::String, QByteArray("a\0b", 3));
        QTest::newRow("REG_DWORD of two bytes") << bytes(RegType::DWord, QByteArray("\x01\0", 2));
        QTest::newRow("REG_DWORD of eight bytes") << bytes(RegType::DWord, everyByte.left(8));
    }
    void everyValueTypeRoundTrips() {
        QFETCH(RegValue, value);
        TestEnvironment env;
        RegFileRegistry writer;
        QVERIFY(writer.setValue(Hive::LocalMachine, kKey, text(u"Before"_qs, u"b"_qs)).ok);
        QVERIFY(writer.setValue(Hive::LocalMachine, kKey, value).ok);
        QVERIFY(writer.setValue(Hive::LocalMachine, kKey, text(u"After"_qs, u"a"_qs)).ok);
        RegFileRegistry reader;
        QVERIFY2(reader.hiveStatus(Hive::LocalMachine).ok,
                 qPrintable(reader.hiveStatus(Hive::LocalMachine).error));
        QCOMPARE(reader.value(Hive::LocalMachine, kKey, u"V"_qs), std::optional(value));
        QCOMPARE(reader.values(Hive::LocalMachine, kKey).size(), 3);
        // A change beside it keeps it as it was.
        QVERIFY(reader.deleteValue(Hive::LocalMachine, kKey, u"Before"_qs).ok);
        QCOMPARE(RegFileRegistry().value(Hive::LocalMachine, kKey, u"v"_qs), std::optional(value));
    }

    void damagedHiveIsKeptAside_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line");
        const QByteArray good = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CURRENT_USER\\Software\\Kelvo]\n"
                                "\"Preview\"=\"1\"\n"
                                "\"Multi\"=hex(1):61,00,0a,00,\\\n"
                                "  62,00,00,00\n";
        QTest::newRow("empty file") << QByteArray() << 1;
        QTest::newRow("cut inside the header") << good.left(20) << 1;
        QTest::newRow("cut inside a quoted text") << good.left(good.indexOf("\"1\"") + 2) << 4;
        QTest::newRow("cut inside continued hex data") << good.left(good.indexOf("0a,00,\\") + 7) << 5;
        QTest::newRow("binary garbage") << QByteArray("\x7f"
                                                      "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                                                      16)
                                        << 1;
        QTest::newRow("garbage after the header") << good + QByteArray("\x01\x02\x03\n") << 7;
        QTest::newRow("not UTF-8") << good + "\"B\"=\"\xe4\"\n" << 7;
        QTest::newRow("value before any key")
            << QByteArray("Windows Registry Editor Version 5.00\n\"A\"=\"1\"\n") << 2;
        QTest::newRow("key of the other hive")
            << QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software]\n") << 3;
        QTest::newRow("unknown kind of data") << good + "\"E\"=text:41,00,00,00\n" << 7;
        QTest::newRow("type that is no number") << good + "\"E\"=hex(zz):41\n" << 7;
        QTest::newRow("type beyond 32 bits") << good + "\"E\"=hex(123456789):41\n" << 7;
        QTest::newRow("type without its bracket") << good + "\"E\"=hex(2:41\n" << 7;
        QTest::newRow("byte of three digits") << good + "\"E\"=hex:100\n" << 7;
        QTest::newRow("byte that is no number") << good + "\"E\"=hex:0x\n" << 7;
        QTest::newRow("continued past the end") << good + "\"E\"=hex:01,\\" << 7;
        QTest::newRow("dword beyond 32 bits") << good + "\"D\"=dword:123456789\n" << 7;
        QTest::newRow("dword with a sign") << good + "\"D\"=dword:-1\n" << 7;
        QTest::newRow("key name too long") << good + "[HKEY_CURRENT_USER\\" + QByteArray(256, 'k') + "]\n"
                                           << 7;
        QTest::newRow("key too deep") << good + "[HKEY_CURRENT_USER" + QByteArray("\\k").repeated(513) + "]\n"
                                      << 7;
        QTest::newRow("the hive itself removed") << good + "[-HKEY_CURRENT_USER]\n" << 7;
        QTest::newRow("UTF-16 of an odd length") << QByteArray("\xff\xfeW\x00i", 5) << 1;
        QTest::newRow("bad dword") << good + "\"D\"=dword:xyz\n" << 7;
        // Far deeper than the registry allows: such a tree would overflow the stack.
        QTest::newRow("key 100000 levels deep")
            << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER" +
                   QByteArray("\\k").repeated(100000) + "]\n"
            << 3;
    }
    void damagedHiveIsKeptAside() {
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        TestEnvironment env;
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        writeFile(hive, file);
        RegFileRegistry registry;

        // Reads find nothing and say why.
        QVERIFY(!registry.value(Hive::CurrentUser, u"Software\\Kelvo"_qs, u"Preview"_qs));
        QVERIFY(!registry.keyExists(Hive::CurrentUser, u"Software"_qs));
        const RegResult status = registry.hiveStatus(Hive::CurrentUser);
        QVERIFY(!status.ok);
        QVERIFY2(status.error.startsWith(hive + u", line "_qs + QString::number(line) + u": "_qs),
                 qPrintable(status.error));
        QCOMPARE(readFile(hive), file);

        // A write does not overwrite it: the file is kept aside, byte for byte.
        const RegResult write =
            registry.setValue(Hive::CurrentUser, u"Software\\Kelvo"_qs, text(u"A"_qs, u"1"_qs));
        QVERIFY(!write.ok);
        QVERIFY2(write.error.contains(u", line "_qs + QString::number(line)), qPrintable(write.error));
        const QStringList aside = setAsideFiles(hive);
        QCOMPARE(aside.size(), 1);
        QVERIFY2(write.error.contains(aside[0]), qPrintable(write.error));
        QCOMPARE(readFile(QFileInfo(hive).path() + u'/' + aside[0]), file);
        QVERIFY(!QFile::exists(hive));

        // The hive starts again empty.
        QVERIFY(registry.setValue(Hive::CurrentUser, u"Software\\Kelvo"_qs, text(u"A"_qs, u"1"_qs)).ok);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"Software\\Kelvo"_qs, u"A"_qs)->text(), u"1"_qs);
        QCOMPARE(setAsideFiles(hive).size(), 1);
    }

    void unchangedHiveIsNotParsedAgain() {
        TestEnvironment env;
        RegFileRegistry writer;
        QVERIFY(writer.setValue(Hive::CurrentUser, kKey, text(u"A"_qs, u"1"_qs)).ok);
        RegFileRegistry reader;
        for (int i = 0; i < 100; ++i)
            QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"A"_qs)->text(), u"1"_qs);
        QCOMPARE(reader.parseCount(), 1);

        // Another process changes the hive: the next read sees it.
        const Run run = runProgram(u"ravlek-reg"_qs, {u"add"_qs, u"HKCU\\"_qs + kKey, u"/v"_qs, u"A"_qs,
                                                      u"/d"_qs, u"2"_qs, u"/f"_qs});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"A"_qs)->text(), u"2"_qs);
        QCOMPARE(reader.parseCount(), 2);

        // An edit in place of the same size is told apart by its modification time.
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        QByteArray bytes = readFile(hive);
        bytes.replace("\"A\"=\"2\"", "\"A\"=\"3\"");
        {
            QFile file(hive);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.write(bytes) == bytes.size());
            QVERIFY(
                file.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        }
        QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"A"_qs)->text(), u"3"_qs);
        QCOMPARE(reader.parseCount(), 3);

        // Its own writes need no parse either.
        QVERIFY(reader.setValue(Hive::CurrentUser, kKey, text(u"B"_qs, u"4"_qs)).ok);
        QCOMPARE(reader.value(Hive::CurrentUser, kKey, u"B"_qs)->text(), u"4"_qs);
        QCOMPARE(reader.parseCount(), 3);
    }

    void concurrentProcessesLoseNothing() {
        TestEnvironment env;
        const int writers = 24;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < writers; ++i) {
            auto process = std::make_unique<QProcess>();
            process->start(programPath(u"ravlek-reg"_qs),
                           {u"add"_qs, u"HKLM\\"_qs + kKey, u"/v"_qs, u"Writer%1"_qs.arg(i), u"/d"_qs,
                            QString::number(i), u"/f"_qs});
            processes.push_back(std::move(process));
        }
        for (auto& process : processes) {
            QVERIFY(process->waitForFinished(60000));
            QCOMPARE(process->exitCode(), 0);
        }
        RegFileRegistry reader;
        QCOMPARE(reader.values(Hive::LocalMachine, kKey).size(), writers);
        for (int i = 0; i < writers; ++i)
            QCOMPARE(reader.value(Hive::LocalMachine, kKey, u"Writer%1"_qs.arg(i))->text(),
                     QString::number(i));
        QDir folder(QFileInfo(RegFileRegistry::hiveFile(Hive::LocalMachine)).path());
        QCOMPARE(folder.entryList({u"*.tmp-*"_qs}, QDir::Files), QStringList()); // no leftovers
    }

    void writerWaitsForTheLock() {
        TestEnvironment env;
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        QVERIFY(RegFileRegistry().createKey(Hive::CurrentUser, kKey).ok);
        const int lock = ::open(QFile::encodeName(hive + u".lock"_qs).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(lock >= 0);
        QCOMPARE(::flock(lock, LOCK_EX), 0);

        QProcess writer;
        writer.start(programPath(u"ravlek-reg"_qs),
                     {u"add"_qs, u"HKCU\\"_qs + kKey, u"/v"_qs, u"Late"_qs, u"/d"_qs, u"x"_qs, u"/f"_qs});
        QVERIFY(writer.waitForStarted());
        QVERIFY(!writer.waitForFinished(500)); // still waiting for the lock
        QVERIFY(!RegFileRegistry().value(Hive::CurrentUser, kKey, u"Late"_qs));

        ::close(lock);
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitCode(), 0);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, kKey, u"Late"_qs)->text(), u"x"_qs);
    }

    void refusedWriteGivesTheSystemsText() {
        TestEnvironment env;
        // A machine folder that cannot be made: the path runs through a file.
        env.writeFile(u"not-a-folder"_qs, "x");
        env.setVariable("KELVO_MACHINE_DIR", env.path(u"not-a-folder/kelvo"_qs));
        const RegResult result = RegFileRegistry().setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, qt_error_string(ENOTDIR));
    }

    void ordinaryUserCannotWriteTheMachineHive() {
        TestEnvironment env;
        QVERIFY(QFile::setPermissions(env.root(),
                                      QFile::permissions(env.root()) | QFile::ExeOther | QFile::ReadOther));
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"old"_qs)).ok);
        const QString machine = env.path(u"machine"_qs);
        if (::geteuid() != 0)
            QVERIFY(QFile::setPermissions(machine, QFile::ReadOwner | QFile::ExeOwner));
        const QByteArray before = readFile(RegFileRegistry::hiveFile(Hive::LocalMachine));

        const Run run = runProgram(
            u"ravlek-reg"_qs,
            {u"add"_qs, u"HKLM\\"_qs + kKey, u"/v"_qs, u"A"_qs, u"/d"_qs, u"new"_qs, u"/f"_qs}, true);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err.trimmed(), u"ERROR: "_qs + qt_error_string(EACCES));
        QCOMPARE(readFile(RegFileRegistry::hiveFile(Hive::LocalMachine)), before);
        QFile::setPermissions(machine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A key open to every user stays writable by every user, but the machine hive, its folder
    // and its lock stay the administrator's: the key lives in a hive of its own.
    void keyOpenToEveryoneLivesApart() {
        TestEnvironment env;
        QVERIFY(QFile::setPermissions(env.root(),
                                      QFile::permissions(env.root()) | QFile::ExeOther | QFile::ReadOther));
        RegFileRegistry registry;
        const QString hive = RegFileRegistry::hiveFile(Hive::LocalMachine);
        const QString folder = QFileInfo(hive).path();
        QVERIFY(registry.setValue(Hive::LocalMachine, u"Existing"_qs, text(u"A"_qs, u"1"_qs), false).ok);
        // An existing key stays as it is.
        QVERIFY(registry.setValue(Hive::LocalMachine, u"Existing"_qs, text(u"B"_qs, u"2"_qs), true).ok);
        // A new one is open to every user.
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs), true).ok);
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"B"_qs, u"2"_qs), false).ok);
        for (const QString& path : {folder, hive, hive + u".lock"_qs})
            QVERIFY2((modeOf(path) & 0022) == 0, qPrintable(path));
        const QString open = RegFileRegistry::openKeysFile();
        QVERIFY(!open.startsWith(folder + u'/'));
        QCOMPARE(modeOf(QFileInfo(open).path()), mode_t(0777));
        QCOMPARE(modeOf(open), mode_t(0666));
        QCOMPARE(modeOf(open + u".lock"_qs), mode_t(0666));

        // Another user writes the open key, and a key below it, but nothing else. (Not running
        // as root, the test stands for that user itself, once the machine folder is closed to it.)
        if (::geteuid() != 0)
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        Run run = runProgram(u"ravlek-reg"_qs,
                             {u"add"_qs, u"HKLM\\"_qs + kKey, u"/v"_qs, u"C"_qs, u"/d"_qs, u"3"_qs, u"/f"_qs},
                             true);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        run = runProgram(
            u"ravlek-reg"_qs,
            {u"add"_qs, u"HKLM\\"_qs + kKey + u"\\Below"_qs, u"/v"_qs, u"D"_qs, u"/d"_qs, u"4"_qs, u"/f"_qs},
            true);
        QCOMPARE(run.exitCode, 0);
        run = runProgram(u"ravlek-reg"_qs,
                         {u"add"_qs, u"HKLM\\Existing"_qs, u"/v"_qs, u"A"_qs, u"/d"_qs, u"x"_qs, u"/f"_qs},
                         true);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err.trimmed(), u"ERROR: "_qs + qt_error_string(EACCES));
        run = runProgram(u"ravlek-reg"_qs,
                         {u"add"_qs, u"HKLM\\SOFTWARE\\Kelvo\\Elsewhere"_qs, u"/v"_qs, u"A"_qs, u"/d"_qs,
                          u"x"_qs, u"/f"_qs},
                         true);
        QCOMPARE(run.exitCode, 1);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                          QFile::ExeGroup);

        RegFileRegistry reader;
        QCOMPARE(reader.value(Hive::LocalMachine, kKey, u"A"_qs)->text(), u"1"_qs);
        QCOMPARE(reader.value(Hive::LocalMachine, kKey, u"C"_qs)->text(), u"3"_qs);
        QCOMPARE(reader.value(Hive::LocalMachine, kKey + u"\\Below"_qs, u"D"_qs)->text(), u"4"_qs);
        QCOMPARE(reader.value(Hive::LocalMachine, u"Existing"_qs, u"A"_qs)->text(), u"1"_qs);
        QVERIFY(!reader.keyExists(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\Elsewhere"_qs));
        QCOMPARE(reader.subKeys(Hive::LocalMachine, u"SOFTWARE\\Kelvo"_qs), QStringList{u"Test"_qs});
        for (const QString& path : {folder, hive, hive + u".lock"_qs})
            QVERIFY2((modeOf(path) & 0022) == 0, qPrintable(path));
    }

    void writerGivesUpWhenTheLockStaysTaken() {
        TestEnvironment env;
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        QVERIFY(RegFileRegistry().createKey(Hive::CurrentUser, kKey).ok);
        const int lock = ::open(QFile::encodeName(hive + u".lock"_qs).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(lock >= 0);
        QCOMPARE(::flock(lock, LOCK_EX), 0);
        const QByteArray before = readFile(hive);

        QProcess writer;
        writer.start(programPath(u"ravlek-reg"_qs),
                     {u"add"_qs, u"HKCU\\"_qs + kKey, u"/v"_qs, u"Late"_qs, u"/d"_qs, u"x"_qs, u"/f"_qs});
        const bool finished = writer.waitForFinished(60000);
        ::close(lock);
        QVERIFY2(finished, "the writer still waits for the lock");
        QCOMPARE(writer.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(writer.readAllStandardError()).contains(u"locked"_qs),
                 "the failure names the lock");
        QCOMPARE(readFile(hive), before);
    }

    // The open-keys hive is every user's to write, so what it holds counts only below the
    // keys the machine hive names open: nobody can slip in a key or value elsewhere.
    void openKeysHiveServesOnlyOpenKeys() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::LocalMachine, u"SOFTWARE\\Kelvo"_qs, text(u"A"_qs, u"admin"_qs)).ok);
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs), true).ok);
        writeFile(RegFileRegistry::openKeysFile(),
                  "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvo]\n"
                  "; Open to every user\n"
                  "\"A\"=\"forged\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Soredex\\Dsd\\Uid]\n"
                  "\"ScIP\"=\"10.6.6.6\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvo\\Test\\XRay]\n"
                  "\"A\"=\"2\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvo\\Test\\XRay\\Below]\n\n");
        RegFileRegistry reader;
        QCOMPARE(reader.value(Hive::LocalMachine, u"SOFTWARE\\Kelvo"_qs, u"A"_qs)->text(), u"admin"_qs);
        QVERIFY(!reader.keyExists(Hive::LocalMachine, u"SOFTWARE\\Soredex"_qs));
        QCOMPARE(reader.subKeys(Hive::LocalMachine, u"SOFTWARE"_qs), QStringList{u"Kelvo"_qs});
        QCOMPARE(reader.value(Hive::LocalMachine, kKey, u"A"_qs)->text(), u"2"_qs);
        QCOMPARE(reader.subKeys(Hive::LocalMachine, kKey), QStringList{u"Below"_qs});
    }

    // Deleting an open key takes its contents along; a key opened again starts empty.
    void openKeyDeletedAndMadeAgain() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey + u"\\Sub"_qs, text(u"S"_qs, u"s"_qs), true).ok);
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs)).ok);
        QVERIFY(registry.deleteKey(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\Test"_qs).ok);
        QVERIFY(!registry.keyExists(Hive::LocalMachine, kKey));
        QVERIFY(!readFile(RegFileRegistry::openKeysFile()).contains("Sub"));
        QVERIFY(registry.createKey(Hive::LocalMachine, kKey, true).ok);
        RegFileRegistry reader;
        QVERIFY(reader.keyExists(Hive::LocalMachine, kKey));
        QVERIFY(reader.values(Hive::LocalMachine, kKey).isEmpty());
        QVERIFY(reader.subKeys(Hive::LocalMachine, kKey).isEmpty());
        QVERIFY(!readFile(RegFileRegistry::openKeysFile()).contains("Sub"));
    }

    // Whoever may write the open-keys folder can put anything there under the hive's name:
    // a pipe must not hang a reader, a link must not lead it to another file, and a write
    // moves the thing aside.
    void openKeysFileThatIsNoFile_data() {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("pipe") << true;
        QTest::newRow("symbolic link") << false;
    }
    void openKeysFileThatIsNoFile() {
        QFETCH(bool, pipe);
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs), true).ok);
        const QByteArray open = QFile::encodeName(RegFileRegistry::openKeysFile());
        const QString elsewhere =
            env.writeFile(u"elsewhere.reg"_qs, readFile(RegFileRegistry::openKeysFile()));
        QCOMPARE(::unlink(open.constData()), 0);
        if (pipe)
            QCOMPARE(::mkfifo(open.constData(), 0666), 0);
        else
            QCOMPARE(::symlink(QFile::encodeName(elsewhere).constData(), open.constData()), 0);

        RegFileRegistry reader;
        QVERIFY(!reader.value(Hive::LocalMachine, kKey, u"A"_qs));
        QVERIFY(!reader.hiveStatus(Hive::LocalMachine).ok);
        const RegResult write = reader.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"2"_qs));
        QVERIFY2(!write.ok && write.error.contains(u".corrupt-"_qs), qPrintable(write.error));
        QVERIFY(reader.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"3"_qs)).ok);
        QCOMPARE(RegFileRegistry().value(Hive::LocalMachine, kKey, u"A"_qs)->text(), u"3"_qs);
    }

    // An earlier version opened the machine folder and hive to every user; the next write
    // of their owner closes them again.
    void machineHiveOpenedEarlierIsClosedAgain() {
        TestEnvironment env;
        RegFileRegistry registry;
        QVERIFY(registry.setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"1"_qs)).ok);
        const QString hive = RegFileRegistry::hiveFile(Hive::LocalMachine);
        const QString folder = QFileInfo(hive).path();
        for (const auto& [path, mode] : {std::pair{folder, 0777}, {hive, 0666}, {hive + u".lock"_qs, 0666}})
            QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
        QVERIFY(RegFileRegistry().setValue(Hive::LocalMachine, kKey, text(u"A"_qs, u"2"_qs)).ok);
        QCOMPARE(modeOf(folder), mode_t(0755));
        QCOMPARE(modeOf(hive), mode_t(0644));
        QCOMPARE(modeOf(hive + u".lock"_qs), mode_t(0600));
    }

    void lockWaitIsBounded() {
        TestEnvironment env;
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        QVERIFY(RegFileRegistry().createKey(Hive::CurrentUser, kKey).ok);
        const int lock = ::open(QFile::encodeName(hive + u".lock"_qs).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(lock >= 0);
        QCOMPARE(::flock(lock, LOCK_EX), 0);
        RegFileRegistry registry(std::chrono::milliseconds(200));
        const RegResult result = registry.setValue(Hive::CurrentUser, kKey, text(u"A"_qs, u"1"_qs));
        ::close(lock);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.startsWith(hive + u".lock is locked by another program"_qs),
                 qPrintable(result.error));
        QVERIFY(!registry.value(Hive::CurrentUser, kKey, u"A"_qs));
        QVERIFY(registry.setValue(Hive::CurrentUser, kKey, text(u"A"_qs, u"1"_qs)).ok);
    }

    void userHiveIsNeverOpenedToEveryone() {
        TestEnvironment env;
        QVERIFY(RegFileRegistry().setValue(Hive::CurrentUser, kKey, text(u"A"_qs, u"1"_qs), true).ok);
        const QString hive = RegFileRegistry::hiveFile(Hive::CurrentUser);
        QCOMPARE(modeOf(hive), mode_t(0600));
        QCOMPARE(modeOf(QFileInfo(hive).path()) & 0077, mode_t(0));
    }

    void batchIsAllOrNothing() {
        TestEnvironment env;
        RegFileRegistry registry;
        using Kind = platform::RegChange::Kind;
        const QList<platform::RegChange> bad = {
            {Kind::SetValue, u"A"_qs, text(u"x"_qs, u"1"_qs)},
            {Kind::DeleteKey, QString(), {}}, // the hive itself cannot go
        };
        QVERIFY(!registry.apply(Hive::CurrentUser, bad).ok);
        QVERIFY(!registry.keyExists(Hive::CurrentUser, u"A"_qs));
        const QList<platform::RegChange> good = {
            {Kind::SetValue, u"A"_qs, text(u"x"_qs, u"1"_qs)},
            {Kind::DeleteValue, u"A"_qs, text(u"missing"_qs, QString())},
            {Kind::DeleteKey, u"Missing"_qs, {}},
            {Kind::SetValue, u"A\\B"_qs, dword(u"y"_qs, 2)},
        };
        QVERIFY(registry.apply(Hive::CurrentUser, good).ok);
        QCOMPARE(RegFileRegistry().value(Hive::CurrentUser, u"A\\B"_qs, u"y"_qs)->dword(), 2u);
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
