#include "database/DataLinkFile.h"
#include "settings/DataLinkEditor.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnvironment.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QStringDecoder>
#include <QtTest>

class TestDataLinkEditor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writeFileLayout();
    void writeReadRoundTrip_data();
    void writeReadRoundTrip();
    void readVariants_data();
    void readVariants();
    void parseAndCompose_data();
    void parseAndCompose();
    void composedLinkReadsBack_data();
    void composedLinkReadsBack();
    void engineOfProvider_data();
    void engineOfProvider();
    void editorPrefillsFromFile();
    void editorWritesSqliteFile();
    void editorKeepsProviderAndOtherParts();
    void editorOkReportsUnwritableFile();
    void testConnectionSucceedsOnSqlite();
    void testConnectionReportsEngineError();
};

void TestDataLinkEditor::writeFileLayout() {
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("a.udl"));
    QVERIFY(WriteDataLinkFile(file, QStringLiteral("Provider=SQLOLEDB.1;Data Source=srv")));
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    QCOMPARE(QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2)),
             QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                            "Provider=SQLOLEDB.1;Data Source=srv\r\n"));
}

void TestDataLinkEditor::writeReadRoundTrip_data() {
    QTest::addColumn<QString>("connectionString");
    QTest::newRow("SQL Server") << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User "
                                                  "ID=sa;Initial Catalog=Kelvo;Data Source=SRV\\SQL");
    QTest::newRow("Swedish letters") << QStringLiteral(
        "Provider=PostgreSQL;Initial Catalog=Tandvård;Data Source=värd");
    QTest::newRow("provider only") << QStringLiteral("Provider=SQLite");
}

void TestDataLinkEditor::writeReadRoundTrip() {
    QFETCH(QString, connectionString);
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("round.udl"));
    QVERIFY(WriteDataLinkFile(file, connectionString));
    QCOMPARE(ReadDataLinkFile(file), std::optional(connectionString));
    // Rewriting replaces the old contents.
    QVERIFY(WriteDataLinkFile(file, QStringLiteral("Provider=SQLite")));
    QCOMPARE(ReadDataLinkFile(file), std::optional(QStringLiteral("Provider=SQLite")));
}

void TestDataLinkEditor::readVariants_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<std::optional<QString>>("expected");
    QTest::newRow("8-bit, other letter case")
        << QByteArray("[OLEDB]\r\nprovider = SQLite;Data Source=x\r\n")
        << std::optional(QStringLiteral("Provider=SQLite;Data Source=x"));
    QTest::newRow("Provider in another section")
        << QByteArray("[other]\nProvider=SQLite\n[oledb]\n") << std::optional<QString>();
    QTest::newRow("empty file") << QByteArray() << std::optional<QString>();
    QTest::newRow("UTF-8 with mark")
        << QByteArray("\xEF\xBB\xBF[oledb]\nProvider=PostgreSQL;Data Source=h\xC3\xA4\n")
        << std::optional(QStringLiteral("Provider=PostgreSQL;Data Source=hä"));
}

void TestDataLinkEditor::readVariants() {
    QFETCH(QByteArray, content);
    QFETCH(std::optional<QString>, expected);
    TestEnvironment env;
    QCOMPARE(ReadDataLinkFile(env.writeFile(QStringLiteral("v.udl"), content)), expected);
    QCOMPARE(ReadDataLinkFile(env.path(QStringLiteral("missing.udl"))), std::nullopt);
}

void TestDataLinkEditor::parseAndCompose_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("composed");
    QTest::newRow("user and password")
        << QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=pw;Initial "
                          "Catalog=db;Data Source=srv")
        << QStringLiteral("Provider=SQLOLEDB.1;Password=pw;Persist Security Info=True;"
                          "User ID=sa;Initial Catalog=db;Data Source=srv");
    QTest::newRow("system login") << QStringLiteral(
                                         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Data Source=srv")
                                  << QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;"
                                                    "Persist Security Info=False;Data Source=srv");
    QTest::newRow("user without password")
        << QStringLiteral("Provider=PostgreSQL;user id=bo;data source=h")
        << QStringLiteral("Provider=PostgreSQL;Persist Security Info=False;"
                          "User ID=bo;Data Source=h");
    QTest::newRow("quoted value with ;")
        << QStringLiteral("Provider=SQLite;Data Source=\"a;b.db\";Mode=Read")
        << QStringLiteral("Provider=SQLite;Data Source=\"a;b.db\";Mode=Read");
}

void TestDataLinkEditor::parseAndCompose() {
    QFETCH(QString, input);
    QFETCH(QString, composed);
    QCOMPARE(ComposeConnectionString(ParseConnectionString(input)), composed);
}

// Whatever the editor is given, it writes a string that reads back as the same parts: a
// quote means something only at the start of a value.
void TestDataLinkEditor::composedLinkReadsBack_data() {
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("otherKey");
    QTest::newRow("quote inside the password") << QStringLiteral("SQLOLEDB.1") << QStringLiteral("sa")
                                               << QStringLiteral("pa\"ss") << QStringLiteral("Extra");
    QTest::newRow("password of quotes and ;") << QStringLiteral("SQLOLEDB.1") << QStringLiteral("\"sa\"")
                                              << QStringLiteral("\";\"\"") << QStringLiteral("Extra");
    QTest::newRow("quote in another part's key") << QStringLiteral("PostgreSQL") << QStringLiteral("bo")
                                                 << QStringLiteral("pw") << QStringLiteral("Odd\"Key");
    QTest::newRow("provider with ;") << QStringLiteral("My;Provider") << QStringLiteral("bo")
                                     << QStringLiteral("pw") << QStringLiteral("Extra");
}

void TestDataLinkEditor::composedLinkReadsBack() {
    QFETCH(QString, provider);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, otherKey);
    TDataLink link;
    link.provider = provider;
    link.user = user;
    link.password = password;
    link.server = QStringLiteral("srv");
    link.database = QStringLiteral("db");
    link.otherParts = {{otherKey, QStringLiteral("x")}, {QStringLiteral("Mode"), QStringLiteral("Read")}};
    const TDataLink back = ParseConnectionString(ComposeConnectionString(link));
    QCOMPARE(back.provider, link.provider);
    QCOMPARE(back.user, link.user);
    QCOMPARE(back.password, link.password);
    QCOMPARE(back.server, link.server);
    QCOMPARE(back.database, link.database);
    QCOMPARE(back.otherParts, link.otherParts);
}

void TestDataLinkEditor::engineOfProvider_data() {
    QTest::addColumn<QString>("provider");
    QTest::addColumn<std::optional<DataLinkEngine>>("engine");
    QTest::newRow("SQLOLEDB.1") << QStringLiteral("SQLOLEDB.1") << std::optional(DataLinkEngine::SqlServer);
    QTest::newRow("SQLNCLI11") << QStringLiteral("SQLNCLI11") << std::optional(DataLinkEngine::SqlServer);
    QTest::newRow("MSOLEDBSQL.1") << QStringLiteral("msoledbsql.1")
                                  << std::optional(DataLinkEngine::SqlServer);
    QTest::newRow("PostgreSQL") << QStringLiteral("postgresql") << std::optional(DataLinkEngine::PostgreSQL);
    QTest::newRow("SQLite") << QStringLiteral("SQLite") << std::optional(DataLinkEngine::SQLite);
    QTest::newRow("Jet") << QStringLiteral("Microsoft.Jet.OLEDB.4.0") << std::optional<DataLinkEngine>();
    QTest::newRow("empty") << QString() << std::optional<DataLinkEngine>();
}

void TestDataLinkEditor::engineOfProvider() {
    QFETCH(QString, provider);
    QFETCH(std::optional<DataLinkEngine>, engine);
    QCOMPARE(EngineOfProvider(provider), engine);
}

void TestDataLinkEditor::editorPrefillsFromFile() {
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("pre.udl"));
    QVERIFY(
        WriteDataLinkFile(file, QStringLiteral("Provider=PostgreSQL;Persist Security Info=True;User ID=bo;"
                                               "Password=hemligt;Initial Catalog=kelvo;Data Source=dbhost")));
    TfrmDataLinkEditor editor(file);
    QCOMPARE(editor.EngineBox->currentText(), QStringLiteral("PostgreSQL"));
    QCOMPARE(editor.ServerEdit->text(), QStringLiteral("dbhost"));
    QCOMPARE(editor.DatabaseEdit->text(), QStringLiteral("kelvo"));
    QVERIFY(editor.UserLoginButton->isChecked());
    QCOMPARE(editor.UserEdit->text(), QStringLiteral("bo"));
    QCOMPARE(editor.PasswordEdit->text(), QStringLiteral("hemligt"));

    editor.SystemLoginButton->setChecked(true);
    QVERIFY(!editor.UserEdit->isEnabled());
    QCOMPARE(editor.connectionString(), QStringLiteral("Provider=PostgreSQL;Integrated Security=SSPI;"
                                                       "Persist Security Info=False;Initial Catalog=kelvo;"
                                                       "Data Source=dbhost"));
}

void TestDataLinkEditor::editorWritesSqliteFile() {
    TestEnvironment env;
    const QString file =
        env.writeFile(QStringLiteral("new.udl"), QByteArray()); // as "Lägg till..." leaves it
    const QString database = env.path(QStringLiteral("kelvo.db"));
    TfrmDataLinkEditor editor(file);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    editor.EngineBox->setCurrentIndex(editor.EngineBox->findText(QStringLiteral("SQLite")));
    QVERIFY(!editor.DatabaseEdit->isEnabled());
    editor.ServerEdit->setText(database);
    editor.UserEdit->setText(QStringLiteral("ignored"));
    editor.accept();
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(ReadDataLinkFile(file),
             std::optional(QStringLiteral("Provider=SQLite;Data Source=") + database));
}

void TestDataLinkEditor::editorKeepsProviderAndOtherParts() {
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("keep.udl"));
    QVERIFY(
        WriteDataLinkFile(file, QStringLiteral("Provider=SQLNCLI11.1;Integrated Security=SSPI;"
                                               "Initial Catalog=db;Data Source=srv;Auto Translate=True")));
    TfrmDataLinkEditor editor(file);
    editor.DatabaseEdit->setText(QStringLiteral("other"));
    QCOMPARE(editor.connectionString(), QStringLiteral("Provider=SQLNCLI11.1;Integrated Security=SSPI;"
                                                       "Persist Security Info=False;Initial Catalog=other;"
                                                       "Data Source=srv;Auto Translate=True"));
    // Another engine brings its own provider.
    editor.EngineBox->setCurrentIndex(editor.EngineBox->findText(QStringLiteral("PostgreSQL")));
    QVERIFY(editor.connectionString().startsWith(QStringLiteral("Provider=PostgreSQL;")));
}

void TestDataLinkEditor::editorOkReportsUnwritableFile() {
    TestEnvironment env;
    const QString file = env.path(QStringLiteral("no-such-folder/x.udl"));
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("could not be saved"));
    TfrmDataLinkEditor editor(file);
    editor.show();
    editor.accept();
    QVERIFY(editor.isVisible());
    QVERIFY(dialogs.allAnswered());
}

void TestDataLinkEditor::testConnectionSucceedsOnSqlite() {
    TestEnvironment env;
    const QString database = env.path(QStringLiteral("ok.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("create"));
        db.setDatabaseName(database);
        QVERIFY(db.open());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("create"));
    TfrmDataLinkEditor editor(env.path(QStringLiteral("t.udl")));
    editor.EngineBox->setCurrentIndex(editor.EngineBox->findText(QStringLiteral("SQLite")));
    editor.ServerEdit->setText(database);
    ScriptedDialogs dialogs;
    dialogs.expectExactly(platform::DialogKind::Information, QStringLiteral("Test connection succeeded."));
    QTest::mouseClick(editor.TestButton, Qt::LeftButton);
    QVERIFY(dialogs.allAnswered());
}

void TestDataLinkEditor::testConnectionReportsEngineError() {
    TestEnvironment env;
    TfrmDataLinkEditor editor(env.path(QStringLiteral("t.udl")));
    editor.EngineBox->setCurrentIndex(editor.EngineBox->findText(QStringLiteral("PostgreSQL")));
    editor.ServerEdit->setText(QStringLiteral("no-such-host.invalid"));
    editor.DatabaseEdit->setText(QStringLiteral("kelvo"));
    editor.UserEdit->setText(QStringLiteral("bo"));
    editor.PasswordEdit->setText(QStringLiteral("pw"));
    ScriptedDialogs dialogs;
    dialogs.expect(QStringLiteral("Test connection failed.\r\r"));
    QVERIFY(!editor.TestConnection());
    QCOMPARE(dialogs.shown().size(), 1);
    const QString failure =
        dialogs.shown().first().text.mid(QStringLiteral("Test connection failed.\r\r").size());
    // The engine's own words follow the lead-in.
    QVERIFY2(failure.contains(QStringLiteral("no-such-host.invalid")) ||
                 failure.contains(QStringLiteral("host")),
             qPrintable(failure));
}

QTEST_MAIN(TestDataLinkEditor)
#include "tst_datalinkeditor.moc"
