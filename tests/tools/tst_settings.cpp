#include "ScriptedDialogs.h"
#include "TestEnvironment.h"

#include "platform/RegFileRegistry.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

using platform::Hive;

namespace {

// The test program runs itself with this first argument to perform one WriteSetting in a
// process of its own (as an ordinary user when the test runs as root, since root may write
// anywhere): `--write-setting <installation key> <section> <key> <value>`.
const char* const kWriteSettingStep = "--write-setting";

int writeSettingStep(const QStringList& arguments) {
    Environment().ApplicationKey = Environment().UserKey = arguments.value(2);
    WriteSetting(arguments.value(3), arguments.value(4), arguments.value(5));
    QTextStream(stdout) << LastRegistryError();
    return 0;
}

struct Step {
    int exitCode = -1;
    QString lastError;
};

// Runs WriteSetting in another process as an ordinary user, whose own user hive lives in
// `configHome` when one is given.
Step writeSettingAsOrdinaryUser(const QString& installationKey, const QString& section, const QString& key,
                                const QString& value, const QString& configHome = QString()) {
    QString program = QCoreApplication::applicationFilePath();
    QStringList args = {QString::fromLatin1(kWriteSettingStep), installationKey, section, key, value};
    if (::geteuid() == 0) {
        args = QStringList{u"--reuid=nobody"_qs, u"--regid=nogroup"_qs, u"--clear-groups"_qs, program} + args;
        program = u"setpriv"_qs;
    }
    QProcess process;
    if (!configHome.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_qs, configHome);
        process.setProcessEnvironment(environment);
    }
    process.start(program, args);
    if (!process.waitForFinished(60000))
        qFatal("the WriteSetting step did not finish");
    return Step{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput())};
}

// Lets the user "nobody" into the test's folder and its user hive folder (root runs the test).
void openTestFolderToOrdinaryUser(const TestEnvironment& env) {
    const auto all =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(env.root(), all));
    QVERIFY(QFile::setPermissions(env.path(u"config"_qs), all | QFile::WriteOther | QFile::ReadGroup |
                                                              QFile::WriteGroup | QFile::ExeGroup));
    QVERIFY(QFile::setPermissions(env.path(u"machine"_qs), all));
}

const QString kInstallation = u"C_Dental_Apps_Xray\\"_qs;
const QString kSectionKey = u"SOFTWARE\\Kelvo\\C_Dental_Apps_Xray\\XRay"_qs;

void useInstallation(const QString& key) {
    Environment().ApplicationKey = key;
    Environment().UserKey = key;
}

// Stores a value the way a program other than the store would (no machine-wide opening).
void store(Hive hive, const QString& keyPath, const QString& name, const QString& text) {
    QVERIFY(platform::registry().setValue(hive, keyPath, platform::RegValue::ofText(name, text)).ok);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { useInstallation(kInstallation); }

    // Three places, looked at in order: the user hive under UserKey, the user hive under
    // ApplicationKey, the machine hive under ApplicationKey. An invalid QVariant: missing.
    void readOrder_data() {
        QTest::addColumn<QVariant>("userKeyValue");
        QTest::addColumn<QVariant>("userValue");
        QTest::addColumn<QVariant>("machineValue");
        QTest::addColumn<QString>("expected");
        const QVariant none;
        QTest::newRow("only in the machine hive") << none << none << QVariant(u"M"_qs) << u"M"_qs;
        QTest::newRow("user hive first") << none << QVariant(u"U"_qs) << QVariant(u"M"_qs) << u"U"_qs;
        QTest::newRow("UserKey before ApplicationKey")
            << QVariant(u"K"_qs) << QVariant(u"U"_qs) << QVariant(u"M"_qs) << u"K"_qs;
        QTest::newRow("blank user value falls through")
            << none << QVariant(QString()) << QVariant(u"M"_qs) << u"M"_qs;
        QTest::newRow("white space falls through")
            << QVariant(u" \t"_qs) << QVariant(u"   "_qs) << QVariant(u"M"_qs) << u"M"_qs;
        QTest::newRow("spaces around a digit are kept")
            << none << QVariant(u" 1 "_qs) << QVariant(u"M"_qs) << u" 1 "_qs;
        QTest::newRow("three spaces everywhere")
            << none << QVariant(u"   "_qs) << QVariant(u"   "_qs) << kMissingSetting;
        QTest::newRow("nowhere") << none << none << none << kMissingSetting;
    }
    void readOrder() {
        QFETCH(QVariant, userKeyValue);
        QFETCH(QVariant, userValue);
        QFETCH(QVariant, machineValue);
        QFETCH(QString, expected);
        TestEnvironment env;
        Environment().UserKey = u"Other\\"_qs;
        if (userKeyValue.isValid())
            store(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\Other\\XRay"_qs, u"Preview"_qs,
                  userKeyValue.toString());
        if (userValue.isValid())
            store(Hive::CurrentUser, kSectionKey, u"Preview"_qs, userValue.toString());
        if (machineValue.isValid())
            store(Hive::LocalMachine, kSectionKey, u"Preview"_qs, machineValue.toString());

        QCOMPARE(ReadSetting(u"XRay"_qs, u"Preview"_qs), expected);
        QCOMPARE(ReadSetting(u"xray"_qs, u"PREVIEW"_qs), expected);
        const QString withDefault = expected == kMissingSetting ? u"the default"_qs : expected;
        QCOMPARE(ReadSettingDef(u"XRay"_qs, u"Preview"_qs, u"the default"_qs), withDefault);
    }

    void writeSettingWritesEveryPlace() {
        TestEnvironment env;
        Environment().UserKey = u"Other\\"_qs;
        WriteSetting(u"XRay"_qs, u"OneShot"_qs, u"-1"_qs);
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\Other\\XRay"_qs, u"OneShot"_qs),
                 u"-1"_qs);
        QCOMPARE(ReadRegString(Hive::CurrentUser, kSectionKey, u"OneShot"_qs), u"-1"_qs);
        QCOMPARE(ReadRegString(Hive::LocalMachine, kSectionKey, u"OneShot"_qs), u"-1"_qs);
        QVERIFY(!platform::registry().keyExists(Hive::CurrentUser,
                                                u"SOFTWARE\\Kelvo\\ERROR_WRITING_TO_LOCAL_MACHINE"_qs));
    }

    void refusedMachineWriteLandsInTheUserHive() {
        TestEnvironment env;
        openTestFolderToOrdinaryUser(env);
        store(Hive::LocalMachine, kSectionKey, u"Format"_qs, u"DIB"_qs); // written by an administrator
        const QString machine = env.path(u"machine"_qs);
        if (::geteuid() != 0) // not root: a machine folder this user may not write
            QVERIFY(QFile::setPermissions(machine, QFile::ReadOwner | QFile::ExeOwner));
        const QByteArray machineHive = [] {
            QFile file(platform::RegFileRegistry::hiveFile(Hive::LocalMachine));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();

        const Step step = writeSettingAsOrdinaryUser(kInstallation, u"XRay"_qs, u"Format"_qs, u"RAW12"_qs);
        QFile::setPermissions(machine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(step.exitCode, 0);
        const QString refusal = qt_error_string(EACCES);
        QCOMPARE(step.lastError, refusal);
        QCOMPARE(ReadRegString(Hive::CurrentUser, kSectionKey, u"Format"_qs), u"RAW12"_qs);
        QCOMPARE(ReadRegString(Hive::LocalMachine, kSectionKey, u"Format"_qs), u"DIB"_qs);
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\ERROR_WRITING_TO_LOCAL_MACHINE"_qs,
                               u"ErrorMsg"_qs),
                 refusal);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Format"_qs), u"RAW12"_qs);
        QFile file(platform::RegFileRegistry::hiveFile(Hive::LocalMachine));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), machineHive);
    }

    // A machine hive written by an administrator, but no key yet for the section: an ordinary
    // user's write is refused, and the marker holds the refusal's own reason.
    void refusedKeyCreationLeavesItsOwnReason() {
        TestEnvironment env;
        openTestFolderToOrdinaryUser(env);
        store(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\Other"_qs, u"Format"_qs, u"DIB"_qs);
        const QString machine = env.path(u"machine"_qs);
        if (::geteuid() != 0)
            QVERIFY(QFile::setPermissions(machine, QFile::ReadOwner | QFile::ExeOwner));
        const Step step = writeSettingAsOrdinaryUser(kInstallation, u"XRay"_qs, u"Format"_qs, u"RAW12"_qs);
        QFile::setPermissions(machine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(step.exitCode, 0);
        QCOMPARE(step.lastError, qt_error_string(EACCES));
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\ERROR_WRITING_TO_LOCAL_MACHINE"_qs,
                               u"ErrorMsg"_qs),
                 qt_error_string(EACCES));
        QVERIFY(!platform::registry().keyExists(Hive::LocalMachine, kSectionKey));
    }

    void newMachineKeyIsWritableByEveryUser() {
        TestEnvironment env;
        openTestFolderToOrdinaryUser(env);
        WriteSetting(u"XRay"_qs, u"Preview"_qs, u"1"_qs);
        // ... while the machine hive and its folder stay closed to them.
        const QString hive = platform::RegFileRegistry::hiveFile(Hive::LocalMachine);
        QVERIFY(!QFileInfo(hive).permissions().testAnyFlags(QFile::WriteOther | QFile::WriteGroup));
        QVERIFY(!QFileInfo(env.path(u"machine"_qs))
                     .permissions()
                     .testAnyFlags(QFile::WriteOther | QFile::WriteGroup));

        const QString otherUser = env.makeFolder(u"other-user"_qs);
        QVERIFY(QFile::setPermissions(otherUser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther));
        const Step step =
            writeSettingAsOrdinaryUser(kInstallation, u"XRay"_qs, u"Preview"_qs, u"0"_qs, otherUser);
        QCOMPARE(step.exitCode, 0);
        QCOMPARE(step.lastError, QString());
        QCOMPARE(ReadRegString(Hive::LocalMachine, kSectionKey, u"Preview"_qs), u"0"_qs);
        QVERIFY(QFile::exists(otherUser + u"/kelvo/HKEY_CURRENT_USER.reg"_qs));
        QVERIFY(!platform::registry().keyExists(Hive::CurrentUser,
                                                u"SOFTWARE\\Kelvo\\ERROR_WRITING_TO_LOCAL_MACHINE"_qs));
    }

    void readRegDWord_data() {
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("a dword") << u"NetMode"_qs << 42u;
        QTest::newRow("text is not a dword") << u"ScIP"_qs << 0u;
        QTest::newRow("text of digits is not a dword") << u"Digits"_qs << 0u;
        QTest::newRow("missing value") << u"Nothing"_qs << 0u;
    }
    void readRegDWord() {
        QFETCH(QString, valueName);
        QFETCH(quint32, expected);
        TestEnvironment env;
        const QString key = u"SOFTWARE\\Soredex\\Dsd\\Uid"_qs;
        QVERIFY(platform::registry()
                    .setValue(Hive::LocalMachine, key, platform::RegValue::ofDWord(u"NetMode"_qs, 42))
                    .ok);
        store(Hive::LocalMachine, key, u"ScIP"_qs, u"10.0.0.7"_qs);
        store(Hive::LocalMachine, key, u"Digits"_qs, u"42"_qs);
        QCOMPARE(ReadRegDWord(Hive::LocalMachine, key, valueName), expected);
        QCOMPARE(ReadRegDWord(Hive::LocalMachine, u"SOFTWARE\\Missing"_qs, valueName), 0u);
    }

    void readRegStringTakesAnyValueAsText() {
        TestEnvironment env;
        // the bytes 41 00 42 00: "AB" in UTF-16
        QVERIFY(platform::registry()
                    .setValue(Hive::CurrentUser, u"K"_qs, platform::RegValue::ofDWord(u"N"_qs, 0x00420041))
                    .ok);
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"K"_qs, u"N"_qs), u"AB"_qs);
        // "1", then a NUL that ends the text
        QVERIFY(platform::registry()
                    .setValue(Hive::CurrentUser, u"K"_qs, platform::RegValue::ofDWord(u"N"_qs, 0x31))
                    .ok);
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"K"_qs, u"N"_qs), u"1"_qs);
        store(Hive::CurrentUser, u"K"_qs, u"T"_qs, QString::fromUtf16(u"ab\0cd", 5));
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"K"_qs, u"T"_qs), u"ab"_qs);
    }

    void emptyValueNameIsTheDefaultValue() {
        TestEnvironment env;
        QVERIFY(WriteRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo"_qs, QString(), u"default"_qs));
        QVERIFY(WriteRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo"_qs, u"Named"_qs, u"named"_qs));
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo"_qs, QString()), u"default"_qs);
        QCOMPARE(ReadRegString(Hive::CurrentUser, u"SOFTWARE\\Kelvo\\Missing"_qs, QString()), QString());
    }

    void twoInstallationsKeepSeparateSettings() {
        TestEnvironment env;
        useInstallation(u"C_A\\"_qs);
        WriteSetting(u"XRay"_qs, u"Format"_qs, u"DIB"_qs);
        useInstallation(u"C_B\\"_qs);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Format"_qs), kMissingSetting);
        WriteSetting(u"XRay"_qs, u"Format"_qs, u"DCM"_qs);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Format"_qs), u"DCM"_qs);
        useInstallation(u"C_A\\"_qs);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Format"_qs), u"DIB"_qs);
        QCOMPARE(ReadRegString(Hive::LocalMachine, u"SOFTWARE\\Kelvo\\C_B\\XRay"_qs, u"Format"_qs),
                 u"DCM"_qs);
    }

    void overLongValuesReadAsMissing_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("readable");
        QTest::newRow("1024 characters") << 1024 << true;
        QTest::newRow("1025 characters") << 1025 << false;
        QTest::newRow("far too long") << 5000 << false;
    }
    void overLongValuesReadAsMissing() {
        QFETCH(int, length);
        QFETCH(bool, readable);
        TestEnvironment env;
        store(Hive::LocalMachine, kSectionKey, u"Path"_qs, u"machine"_qs);
        const QString text(length, u'x');
        QVERIFY(WriteRegString(Hive::CurrentUser, kSectionKey, u"Path"_qs, text));
        QCOMPARE(ReadRegString(Hive::CurrentUser, kSectionKey, u"Path"_qs), readable ? text : QString());
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Path"_qs), readable ? text : u"machine"_qs);
    }

    // A damaged user hive is kept aside the first time the store meets it, and the user is told
    // once, with the kept file's name; the settings fall through to the machine hive meanwhile
    // and are written afresh.
    void damagedUserHiveIsKeptAsideAndToldOnce() {
        TestEnvironment env;
        store(Hive::LocalMachine, kSectionKey, u"Preview"_qs, u"1"_qs);
        const QByteArray damaged("\0\1\2garbage", 10);
        const QString hive = env.writeFile(u"config/kelvo/HKEY_CURRENT_USER.reg"_qs, damaged);
        ScriptedDialogs dialogs;
        dialogs.expect(hive + u".corrupt-"_qs);

        QCOMPARE(ReadSetting(u"XRay"_qs, u"Preview"_qs), u"1"_qs);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Preview"_qs), u"1"_qs);
        WriteSetting(u"XRay"_qs, u"Format"_qs, u"DCM"_qs);
        QCOMPARE(ReadSetting(u"XRay"_qs, u"Format"_qs), u"DCM"_qs);

        QCOMPARE(dialogs.shown().size(), 1);
        const QStringList kept =
            QDir(QFileInfo(hive).path()).entryList({u"HKEY_CURRENT_USER.reg.corrupt-*"_qs}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY2(dialogs.shown().first().text.contains(QFileInfo(hive).path() + u'/' + kept.first()),
                 qPrintable(dialogs.shown().first().text));
        QFile keptFile(QFileInfo(hive).path() + u'/' + kept.first());
        QVERIFY(keptFile.open(QIODevice::ReadOnly));
        QCOMPARE(keptFile.readAll(), damaged);
        QCOMPARE(ReadRegString(Hive::CurrentUser, kSectionKey, u"Format"_qs), u"DCM"_qs);
    }

    void settingIsTrue_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("whenDefaultFalse");
        QTest::addColumn<bool>("whenDefaultTrue");
        QTest::newRow("-1") << u"-1"_qs << true << true;
        QTest::newRow("1") << u"1"_qs << true << true;
        QTest::newRow("2") << u"2"_qs << true << true;
        QTest::newRow("0") << u"0"_qs << false << false;
        QTest::newRow("0 with blanks") << u" 0 "_qs << false << false;
        QTest::newRow("0.0") << u"0.0"_qs << false << false;
        QTest::newRow("True") << u"True"_qs << true << true;
        QTest::newRow("TRUE") << u"TRUE"_qs << true << true;
        QTest::newRow("false") << u"false"_qs << false << false;
        QTest::newRow("ERROR") << kMissingSetting << false << true;
        QTest::newRow("empty") << QString() << false << true;
        QTest::newRow("yes is no number") << u"yes"_qs << false << true;
        QTest::newRow("1a") << u"1a"_qs << false << true;
    }
    void settingIsTrue() {
        QFETCH(QString, text);
        QFETCH(bool, whenDefaultFalse);
        QFETCH(bool, whenDefaultTrue);
        QCOMPARE(SettingIsTrue(text, false), whenDefaultFalse);
        QCOMPARE(SettingIsTrue(text, true), whenDefaultTrue);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kWriteSettingStep) == 0)
        return writeSettingStep(app.arguments());
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
