// The embedded default of a fresh installation: one data-link file naming an SQLite
// database in the user's data folder, so that the first start connects without a question.

#include "SettingsFixture.h"

#include "database/EmbeddedDefault.h"
#include "platform/Paths.h"
#include "support/ScriptedDialogs.h"
#include "tools/KelvoSettings.h"

#include <QLabel>
#include <QtTest>

using namespace settingsfixture;

namespace {

QStringList dataLinkFiles() {
    return QDir(Environment().DataLinksPath).entryList({QStringLiteral("*.udl")}, QDir::Files);
}

} // namespace

class TestEmbeddedDefault : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstStartConnectsWithoutQuestion();
    void existingDataLinkIsLeftAlone_data();
    void existingDataLinkIsLeftAlone();
    void unwritableFolderWritesNothing();
};

void TestEmbeddedDefault::firstStartConnectsWithoutQuestion() {
    Installation installation;
    const QString database = installation.env.path(QStringLiteral("data/kelvo/ravlek.sqlite"));
    QCOMPARE(EmbeddedDatabasePath(), database);
    QVERIFY(!QFileInfo::exists(Environment().DataLinksPath));
    ScriptedDialogs dialogs; // any message box fails the test

    {
        TfrmSettings window(installation.database);
        QCOMPARE(dataLinkFiles(), QStringList{QStringLiteral("Ravlek.udl")});
        QCOMPARE(*ReadDataLinkFile(Environment().DataLinksPath + QStringLiteral("Ravlek.udl")),
                 QStringLiteral("Provider=SQLite;Data Source=") + database);

        QVERIFY(window.ConnectToDatabase());
        QCOMPARE(window.lblDataProvider->text(), QStringLiteral("Ravlek.udl"));
        QCOMPARE(ReadSetting(QStringLiteral("DataProvider"), QStringLiteral("DefaultDataProvider")),
                 Environment().DataLinksPath + QStringLiteral("Ravlek.udl"));
    }
    QVERIFY(QFileInfo(database).isFile());
    TADOConnection check;
    check.SetConnectionString(EmbeddedConnectionString());
    check.Open();
    QCOMPARE(tableShape(check, QStringLiteral("XRAYWORKSTATIONS")).primaryKey,
             QStringLiteral("PK_XRAYWORKSTATIONS"));
    QCOMPARE(tableShape(check, QStringLiteral("XRAYDEVICELOCKLIST")).primaryKey,
             QStringLiteral("PK_XRAYDEVICELOCKLIST"));

    // The next start finds its default and writes nothing more.
    InitApplicationEnvironment({QStringLiteral("ravlek")});
    TfrmSettings restarted(installation.database);
    QCOMPARE(restarted.lblDataProvider->text(), QStringLiteral("Ravlek.udl"));
    QCOMPARE(dataLinkFiles(), QStringList{QStringLiteral("Ravlek.udl")});
    QVERIFY(restarted.ConnectToDatabase());
}

void TestEmbeddedDefault::existingDataLinkIsLeftAlone_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("lower-case extension") << QStringLiteral("Practice.udl");
    QTest::newRow("upper-case extension") << QStringLiteral("PRACTICE.UDL");
}

void TestEmbeddedDefault::existingDataLinkIsLeftAlone() {
    QFETCH(QString, name);
    Installation installation;
    installation.writeDataLink(name, QStringLiteral("Provider=SQLOLEDB.1;Data Source=server"));

    QCOMPARE(EnsureEmbeddedDataLink(Environment().DataLinksPath), TEmbeddedDefault::NotNeeded);
    QCOMPARE(QDir(Environment().DataLinksPath).entryList(QDir::Files), QStringList{name});
}

void TestEmbeddedDefault::unwritableFolderWritesNothing() {
    Installation installation;
    // A plain file where the common-files folder belongs: no folder can be made below it,
    // whoever runs the test.
    installation.env.writeFile(QStringLiteral("machine/Common Files"), "plain file");
    ScriptedDialogs dialogs;

    QCOMPARE(EnsureEmbeddedDataLink(Environment().DataLinksPath), TEmbeddedDefault::NotWritable);
    TfrmSettings window(installation.database);
    QVERIFY(!QFileInfo::exists(Environment().DataLinksPath));
    QCOMPARE(window.lblDataProvider->text(), QStringLiteral("(ingen vald)"));
    QVERIFY(!QFileInfo::exists(EmbeddedDatabasePath()));
}

QTEST_MAIN(TestEmbeddedDefault)
#include "tst_embeddeddefault.moc"
