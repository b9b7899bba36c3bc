#include "database/DataLinkFile.h"
#include "database/KelvoCipher.h"
#include "database/KelvoDatabase.h"
#include "database/KelvoLogin.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/Udataproviders.h"
#include "support/ModalWindows.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"
#include "tools/KelvoSettings.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kSection = QStringLiteral("DataProvider");
const QString kKey = QStringLiteral("DefaultDataProvider");

struct PgSettings {
    QString host, port, user, password, database;
    QString dataSource() const { return host + QLatin1Char(':') + port; }
};

std::optional<PgSettings> pgSettings() {
    const PgSettings pg{
        qEnvironmentVariable("RAVLEK_TEST_PG_HOST"), qEnvironmentVariable("RAVLEK_TEST_PG_PORT"),
        qEnvironmentVariable("RAVLEK_TEST_PG_USER"), qEnvironmentVariable("RAVLEK_TEST_PG_PASSWORD"),
        qEnvironmentVariable("RAVLEK_TEST_PG_DATABASE")};
    if (pg.host.isEmpty() || pg.database.isEmpty())
        return std::nullopt;
    return pg;
}

// The login as the program runs it: on the environment's data-link choice, with the
// program's links (the data-provider chooser, the settings store, the file search).
bool buildConnectionString(const QString& fallbackUser, const QString& fallbackPassword) {
    return BuildConnectionString(Environment(), ProgramDatabaseLinks(), fallbackUser, fallbackPassword);
}

} // namespace

class TestLogin : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void getConnectionParam_data();
    void getConnectionParam();
    void setConnectionParam_data();
    void setConnectionParam();
    void fileWithLogin();
    void systemLoginUnchanged();
    void providerAlreadyKnownSkipsFile();
    void bareFileNameFromSetting();
    void exactlyOneFileIsTaken();
    void severalFilesAskTheUser();
    void cancelledChooserKeepsName();
    void storedLoginOnSqlite();
    void builtInLoginWhenStoredLoginUnusable_data();
    void builtInLoginWhenStoredLoginUnusable();
    void storedLoginOnPostgreSql();

private:
    QString writeLink(const QString& name, const QString& connectionString);
    // A SQLite database holding KELVOUSER with the given stored texts (no row when empty).
    QString sqliteWithStoredLogin(const QString& storedName, const QString& storedPassword);

    std::unique_ptr<TestEnvironment> m_env;
    QString m_links;
};

void TestLogin::init() {
    m_env = std::make_unique<TestEnvironment>();
    m_links = m_env->makeFolder(QStringLiteral("links")) + QLatin1Char('/');
    Environment() = {};
    Environment().DataLinksPath = m_links;
    Environment().DataProviderFile = m_links + kMissingSetting;
    DBConnection() = {};
}

void TestLogin::cleanup() {
    Environment() = {};
    DBConnection() = {};
    m_env.reset();
}

QString TestLogin::writeLink(const QString& name, const QString& connectionString) {
    const QString file = m_links + name;
    if (!WriteDataLinkFile(file, connectionString))
        qFatal("cannot write %s", qPrintable(file));
    return file;
}

QString TestLogin::sqliteWithStoredLogin(const QString& storedName, const QString& storedPassword) {
    const QString file = m_env->path(QStringLiteral("practice.db"));
    TADOConnection connection;
    connection.SetConnectionString(QStringLiteral("Provider=SQLite;Data Source=") + file);
    connection.Open();
    connection.BeginTrans();
    connection.Execute(
        QStringLiteral("CREATE TABLE KELVOUSER (KELVOUSERNAME VARCHAR(100), KELVOPASSWORD VARCHAR(100))"));
    if (!storedName.isNull())
        connection.Execute(QStringLiteral("INSERT INTO KELVOUSER VALUES (:n, :p)"),
                           {{QStringLiteral("n"), storedName}, {QStringLiteral("p"), storedPassword}});
    connection.CommitTrans();
    connection.Close();
    return file;
}

void TestLogin::getConnectionParam_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    const QString text =
        QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Initial Catalog=Kelvo;Data Source=SRV");
    QTest::newRow("middle") << text << QStringLiteral("User ID=") << QStringLiteral("sa");
    QTest::newRow("first") << text << QStringLiteral("Provider=") << QStringLiteral("SQLOLEDB.1");
    QTest::newRow("last, no terminator") << text << QStringLiteral("Data Source=") << QStringLiteral("SRV");
    QTest::newRow("missing") << text << QStringLiteral("Password=") << QString();
    QTest::newRow("letter case counts") << text << QStringLiteral("user id=") << QString();
    QTest::newRow("empty value") << QStringLiteral("Password=;User ID=x") << QStringLiteral("Password=")
                                 << QString();
    QTest::newRow("first occurrence")
        << QStringLiteral("A=1;A=2") << QStringLiteral("A=") << QStringLiteral("1");
}

void TestLogin::getConnectionParam() {
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(GetConnectionParam(text, key, QStringLiteral(";")), expected);
}

void TestLogin::setConnectionParam_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("after");
    const QString text = QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Data Source=SRV");
    QTest::newRow("replace middle") << text << QStringLiteral("User ID=") << QStringLiteral("bo")
                                    << QStringLiteral("Provider=SQLOLEDB.1;User ID=bo;Data Source=SRV");
    QTest::newRow("replace last") << text << QStringLiteral("Data Source=") << QStringLiteral("OTHER")
                                  << QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Data Source=OTHER");
    QTest::newRow("last key, longer tail")
        << QStringLiteral("Provider=X;Password=abc def") << QStringLiteral("Password=") << QStringLiteral("z")
        << QStringLiteral("Provider=X;Password=z");
    QTest::newRow("replace with empty") << text << QStringLiteral("User ID=") << QString()
                                        << QStringLiteral("Provider=SQLOLEDB.1;User ID=;Data Source=SRV");
    QTest::newRow("append") << text << QStringLiteral("Password=") << QStringLiteral("pw")
                            << text + QStringLiteral(";Password=pw");
    QTest::newRow("missing and empty") << text << QStringLiteral("Password=") << QString() << text;
    QTest::newRow("letter case counts")
        << text << QStringLiteral("user id=") << QStringLiteral("x") << text + QStringLiteral(";user id=x");
}

void TestLogin::setConnectionParam() {
    QFETCH(QString, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, after);
    Environment().ConnectionString = before;
    SetConnectionParam(Environment().ConnectionString, key, value);
    QCOMPARE(Environment().ConnectionString, after);
}

void TestLogin::fileWithLogin() {
    Environment().DataProviderFile = writeLink(
        QStringLiteral("a.udl"), QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=False;"
                                                "User ID=sa;Initial Catalog=Kelvo;Data Source=SRV"));
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security "
                            "Info=True;User ID=sa;Initial Catalog=Kelvo;Data Source=SRV"));
    const TDBConnection& record = DBConnection();
    QCOMPARE(record.Databasename, QStringLiteral("Kelvo"));
    QCOMPARE(record.ServerName, QStringLiteral("SRV"));
    QCOMPARE(record.Username, QStringLiteral("sa"));
    QCOMPARE(record.Password, QStringLiteral("pw"));
    QVERIFY(record.SQLProcessID.isEmpty());
}

void TestLogin::systemLoginUnchanged() {
    const QString text =
        QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                       "Initial Catalog=Kelvo;Data Source=SRV");
    Environment().DataProviderFile = writeLink(QStringLiteral("a.udl"), text);
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QStringLiteral("fallback"), QStringLiteral("pw")));
    QCOMPARE(Environment().ConnectionString, text);
    QVERIFY(DBConnection().Username.isEmpty());
    QCOMPARE(DBConnection().ServerName, QStringLiteral("SRV"));
}

void TestLogin::providerAlreadyKnownSkipsFile() {
    writeLink(QStringLiteral("a.udl"), QStringLiteral("Provider=SQLite;Data Source=elsewhere"));
    Environment().DataProviderFile = m_links + QStringLiteral("a.udl");
    Environment().ConnectionString =
        QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=SRV");
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral(
                 "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Data Source=SRV;Persist Security Info=True"));
}

void TestLogin::bareFileNameFromSetting() {
    writeLink(QStringLiteral("bare.udl"),
              QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S"));
    writeLink(QStringLiteral("other.udl"), QStringLiteral("Provider=SQLite"));
    Environment().DataProviderFile = QStringLiteral("bare.udl");
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().DataProviderFile, m_links + QStringLiteral("bare.udl"));
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S"));
}

void TestLogin::exactlyOneFileIsTaken() {
    const QString file =
        writeLink(QStringLiteral("only.udl"),
                  QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S"));
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().DataProviderFile, file);
    QCOMPARE(ReadSetting(kSection, kKey), file);
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=S"));
}

void TestLogin::severalFilesAskTheUser() {
    writeLink(QStringLiteral("first.udl"),
              QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=A"));
    writeLink(QStringLiteral("second.udl"),
              QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=B"));
    ScriptedDialogs dialogs;
    dialogs.expectExactly(
        platform::DialogKind::Warning,
        QStringLiteral("Kunde inte hitta den angivna DataProvider-filen \"") + m_links +
            QStringLiteral("ERROR\"!\rKontrollera att filen finns i den aktuella katalogen och försök "
                           "igen!\r\rVälj databasanslutning i nästa dialog"));
    chooseDataProviderWhenAsked(QStringLiteral("second.udl"));
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().DataProviderFile, m_links + QStringLiteral("second.udl"));
    QCOMPARE(DBConnection().ServerName, QStringLiteral("B"));
    // Choosing is not storing a default.
    QCOMPARE(ReadSetting(kSection, kKey), kMissingSetting);
}

void TestLogin::cancelledChooserKeepsName() {
    writeLink(QStringLiteral("first.udl"), QStringLiteral("Provider=SQLite"));
    writeLink(QStringLiteral("second.udl"), QStringLiteral("Provider=SQLite"));
    Environment().DataProviderFile = QStringLiteral("/gone/away.udl");
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("Kunde inte hitta den angivna DataProvider-filen \"/gone/away.udl\"!"));
    chooseDataProviderWhenAsked(QString());
    // Nothing usable: the provider stays empty and the built-in login fills the record.
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(Environment().DataProviderFile, m_links + QStringLiteral("away.udl"));
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral("Provider=;Persist Security Info=True;User ID=ravlek;Password=xray"));
}

void TestLogin::storedLoginOnSqlite() {
    const TKelvoCipher cipher;
    const QString database = sqliteWithStoredLogin(cipher.EncryptString(QStringLiteral("tandläkare")),
                                                   cipher.EncryptString(QStringLiteral("Hemligt€1")));
    Environment().DataProviderFile =
        writeLink(QStringLiteral("a.udl"), QStringLiteral("Provider=SQLite;User ID=sa;"
                                                          "Data Source=") +
                                               database);
    ScriptedDialogs dialogs;
    QVERIFY(buildConnectionString(QString(), QString()));
    QCOMPARE(DBConnection().Username, QStringLiteral("tandläkare"));
    QCOMPARE(DBConnection().Password, QStringLiteral("Hemligt€1"));
    QCOMPARE(Environment().ConnectionString,
             QStringLiteral("Provider=SQLite;User ID=tandläkare;Data Source=") + database +
                 QStringLiteral(";Persist Security Info=True;Password=Hemligt€1"));
}

void TestLogin::builtInLoginWhenStoredLoginUnusable_data() {
    const TKelvoCipher cipher;
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<QString>("storedPassword");
    QTest::addColumn<bool>("withTable");
    QTest::newRow("no table") << QString() << QString() << false;
    QTest::newRow("no row") << QString() << QString() << true;
    QTest::newRow("not Base64") << QStringLiteral("plain name") << cipher.EncryptString(QStringLiteral("pw"))
                                << true;
    QTest::newRow("empty texts") << QStringLiteral("") << QStringLiteral("") << true;
    QTest::newRow("half a block") << QString::fromLatin1(cipher.EncryptBytes("sa").left(4).toBase64())
                                  << cipher.EncryptString(QStringLiteral("pw")) << true;
    QTest::newRow("count above 7") << QString::fromLatin1(cipher.EncryptBlock("abcdefg\x09").toBase64())
                                   << cipher.EncryptString(QStringLiteral("pw")) << true;
}

void TestLogin::builtInLoginWhenStoredLoginUnusable() {
    QFETCH(QString, storedName);
    QFETCH(QString, storedPassword);
    QFETCH(bool, withTable);
    QString database = m_env->path(QStringLiteral("empty.db"));
    if (withTable)
        database = sqliteWithStoredLogin(storedName, storedPassword);
    Environment().DataProviderFile =
        writeLink(QStringLiteral("a.udl"), QStringLiteral("Provider=SQLite;Data Source=") + database);
    ScriptedDialogs dialogs; // nothing is reported
    QVERIFY(buildConnectionString(QStringLiteral("fallbackUser"), QStringLiteral("fallbackPw")));
    QCOMPARE(DBConnection().Username, QStringLiteral("ravlek"));
    QCOMPARE(DBConnection().Password, QStringLiteral("xray"));
    QCOMPARE(BuiltInLoginName(), QStringLiteral("ravlek"));
    QVERIFY(Environment().ConnectionString.endsWith(QStringLiteral(";User ID=ravlek;Password=xray")));
}

// The stored login read from a real server: the operating-system login or, when the server
// refuses it, the fallback login opens the private connection.
void TestLogin::storedLoginOnPostgreSql() {
    const std::optional<PgSettings> pg = pgSettings();
    if (!pg) {
        if (qEnvironmentVariable("RAVLEK_REQUIRE_PG") == QStringLiteral("1"))
            QFAIL("RAVLEK_TEST_PG_* are not set");
        QSKIP("RAVLEK_TEST_PG_* are not set");
    }
    const QString admin =
        QStringLiteral("Provider=PostgreSQL;User ID=%1;Password=%2;Initial Catalog=%3;Data Source=%4")
            .arg(pg->user, pg->password, pg->database, pg->dataSource());
    const TKelvoCipher cipher;
    TADOConnection setup;
    setup.SetConnectionString(admin);
    setup.Open();
    setup.BeginTrans();
    setup.Execute(QStringLiteral("DROP TABLE IF EXISTS KELVOUSER"));
    setup.Execute(
        QStringLiteral("CREATE TABLE KELVOUSER (KELVOUSERNAME VARCHAR(100), KELVOPASSWORD CHAR(60))"));
    setup.Execute(QStringLiteral("INSERT INTO KELVOUSER VALUES (:n, :p)"),
                  {{QStringLiteral("n"), cipher.EncryptString(QStringLiteral("praktik"))},
                   {QStringLiteral("p"), cipher.EncryptString(QStringLiteral("lösen"))}});
    setup.CommitTrans();

    Environment().DataProviderFile =
        writeLink(QStringLiteral("pg.udl"),
                  QStringLiteral("Provider=PostgreSQL;Persist Security Info=False;Initial Catalog=%1;"
                                 "Data Source=%2")
                      .arg(pg->database, pg->dataSource()));
    ScriptedDialogs dialogs;
    const bool built = buildConnectionString(pg->user, pg->password);

    setup.BeginTrans();
    setup.Execute(QStringLiteral("DROP TABLE KELVOUSER"));
    setup.CommitTrans();
    QVERIFY(built);
    QCOMPARE(DBConnection().Username, QStringLiteral("praktik"));
    QCOMPARE(DBConnection().Password, QStringLiteral("lösen"));
    QCOMPARE(
        Environment().ConnectionString,
        QStringLiteral("Provider=PostgreSQL;Persist Security Info=True;Initial Catalog=%1;Data Source=%2;"
                       "User ID=praktik;Password=lösen")
            .arg(pg->database, pg->dataSource()));
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
