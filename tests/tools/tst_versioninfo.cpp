// TCEVersionInfo: the version strings of a program file and the parts of its FileVersion, and
// the progress program's version number and window class that follow from them.

#include "ElfFixture.h"
#include "TestEnvironment.h"
#include "tools/CEVersionInfo.h"
#include "tools/KelvoProgress.h"

#include <QtTest>

namespace {

QString versionFile(const TestEnvironment& env, const QHash<QString, QString>& strings) {
    elftest::ElfFile file;
    file.notes = {elftest::buildIdNote(), elftest::packageNote(strings)};
    return env.writeFile(QStringLiteral("program"), file.build());
}

} // namespace

class TestVersionInfo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ownFile();
    void programFile();
    void fileWithoutVersionInformation_data();
    void fileWithoutVersionInformation();
    void missingStringsAreEmpty();
    void fileVersionParts_data();
    void fileVersionParts();
    void progressAppVersion_data();
    void progressAppVersion();
};

void TestVersionInfo::ownFile() {
    const TCEVersionInfo info;
    QCOMPARE(info.FileVersion, QStringLiteral(RAVLEK_PROJECT_VERSION ".0"));
    QCOMPARE(info.OriginalFilename, QStringLiteral("tst_versioninfo"));
    const QStringList parts = QStringLiteral(RAVLEK_PROJECT_VERSION ".0").split(QLatin1Char('.'));
    QCOMPARE((QStringList{info.MajorVersion, info.MinorVersion, info.Release, info.Build}), parts);
}

void TestVersionInfo::programFile() {
    TCEVersionInfo info;
    info.GetInfo(programPath(QStringLiteral("kelvo-progress")));
    QCOMPARE(info.CompanyName, QStringLiteral("Kelvo"));
    QCOMPARE(info.FileDescription, QStringLiteral("Kelvo progress display"));
    QCOMPARE(info.InternalName, QStringLiteral("kelvo-progress"));
    QCOMPARE(info.ProductName, QStringLiteral("Ravlek"));
    QCOMPARE(info.ProductVersion, QStringLiteral(RAVLEK_PROJECT_VERSION));
    QVERIFY(info.LegalCopyright.contains(QStringLiteral("Kelvo")));
    QCOMPARE(info.SpecialBuild, QString());
    QCOMPARE(info.PrivateBuild, QString());
    QCOMPARE(info.LegalTrademarks, QString());
}

void TestVersionInfo::fileWithoutVersionInformation_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("a text file") << QStringLiteral("text");
    QTest::newRow("an ELF file without the note") << QStringLiteral("elf");
    QTest::newRow("a file that is not there") << QStringLiteral("missing");
    QTest::newRow("a folder") << QStringLiteral(".");
}

void TestVersionInfo::fileWithoutVersionInformation() {
    QFETCH(QString, file);
    TestEnvironment env;
    env.writeFile(QStringLiteral("text"), "FileVersion=4.1.0.6\n");
    elftest::ElfFile elf;
    elf.notes = {elftest::buildIdNote()};
    env.writeFile(QStringLiteral("elf"), elf.build());

    TCEVersionInfo info;
    info.GetInfo(env.path(file));
    const QStringList unavailable{info.CompanyName,      info.FileDescription,
                                  info.FileVersion,      info.InternalName,
                                  info.LegalCopyright,   info.LegalTrademarks,
                                  info.OriginalFilename, info.PrivateBuild,
                                  info.ProductName,      info.ProductVersion,
                                  info.MajorVersion,     info.MinorVersion,
                                  info.Release,          info.Build};
    for (const QString& value : unavailable)
        QCOMPARE(value, kVersionInfoNotAvailable);
    QCOMPARE(info.SpecialBuild, QString());
}

void TestVersionInfo::missingStringsAreEmpty() {
    TestEnvironment env;
    TCEVersionInfo info;
    info.GetInfo(versionFile(env, {{QStringLiteral("FileVersion"), QStringLiteral("4.1.0.5")},
                                   {QStringLiteral("SpecialBuild"), QStringLiteral("for Room 2")}}));
    QCOMPARE(info.FileVersion, QStringLiteral("4.1.0.5"));
    QCOMPARE(info.SpecialBuild, QStringLiteral("for Room 2"));
    QCOMPARE(info.CompanyName, QString());
    QCOMPARE(info.ProductVersion, QString());
}

void TestVersionInfo::fileVersionParts_data() {
    QTest::addColumn<QString>("fileVersion");
    QTest::addColumn<QStringList>("parts");
    const QString none = kVersionInfoNotAvailable;
    QTest::newRow("four parts") << QStringLiteral("4.1.0.6")
                                << QStringList{QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("0"),
                                               QStringLiteral("6")};
    QTest::newRow("commas") << QStringLiteral("4, 1, 0, 6")
                            << QStringList{QStringLiteral("4"), QStringLiteral(" 1"), QStringLiteral(" 0"),
                                           QStringLiteral(" 6")};
    QTest::newRow("dots win over commas")
        << QStringLiteral("4.1,2.0.6")
        << QStringList{QStringLiteral("4"), QStringLiteral("1,2"), QStringLiteral("0"), QStringLiteral("6")};
    QTest::newRow("build is everything after the third dot")
        << QStringLiteral("1.2.3.4.5")
        << QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4.5")};
    QTest::newRow("two parts") << QStringLiteral("3.10")
                               << QStringList{QStringLiteral("3"), QStringLiteral("10"), QString(),
                                              QString()};
    QTest::newRow("no separator") << QStringLiteral("4106") << QStringList{none, none, none, none};
    QTest::newRow("empty") << QString() << QStringList{none, none, none, none};
}

void TestVersionInfo::fileVersionParts() {
    QFETCH(QString, fileVersion);
    QFETCH(QStringList, parts);
    TestEnvironment env;
    TCEVersionInfo info;
    info.GetInfo(versionFile(env, {{QStringLiteral("FileVersion"), fileVersion}}));
    QCOMPARE(info.FileVersion, fileVersion);
    QCOMPARE((QStringList{info.MajorVersion, info.MinorVersion, info.Release, info.Build}), parts);
}

void TestVersionInfo::progressAppVersion_data() {
    QTest::addColumn<QString>("fileVersion");
    QTest::addColumn<qint32>("version");
    QTest::addColumn<QString>("windowClass");
    QTest::newRow("4.1.0.6") << QStringLiteral("4.1.0.6") << 4106
                             << QStringLiteral("TProgressAppMessageWindow");
    QTest::newRow("4.1.0.5") << QStringLiteral("4.1.0.5") << 4105 << QStringLiteral("TProgressAppMainForm");
    QTest::newRow("ours") << QStringLiteral("3.10.0.0") << 31000
                          << QStringLiteral("TProgressAppMessageWindow");
    QTest::newRow("not available") << kVersionInfoNotAvailable << 0 << QStringLiteral("TProgressAppMainForm");
    QTest::newRow("commas are no number")
        << QStringLiteral("4,1,0,6") << 0 << QStringLiteral("TProgressAppMainForm");
    QTest::newRow("beyond 32 bits") << QStringLiteral("9.9.9.9999999999") << 0
                                    << QStringLiteral("TProgressAppMainForm");
}

void TestVersionInfo::progressAppVersion() {
    QFETCH(QString, fileVersion);
    QFETCH(qint32, version);
    QFETCH(QString, windowClass);
    QCOMPARE(ProgressAppVersionOf(fileVersion), version);
    QCOMPARE(ProgressAppWindowClass(version), windowClass);
}

QTEST_GUILESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
