// The data-access layer, one contract run against SQLite and PostgreSQL.

#include "database/KelvoComponents.h"
#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "support/PostgresTestDatabase.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using pgtest::pgConfigured;
using pgtest::pgConnectionString;
using pgtest::pgVariable;

namespace {

const QString kSqlite = QStringLiteral("sqlite");
const QString kPostgres = QStringLiteral("postgresql");

// The value of the first column of the first row of `sql`.
QVariant scalar(TADOConnection& connection, const QString& sql) {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL()->Add(sql);
    query.Open();
    return query.RecordCount() > 0 ? query.Fields(0).Value() : QVariant();
}

int countRows(TADOConnection& connection, const QString& table) {
    return scalar(connection, QStringLiteral("SELECT COUNT(*) FROM ") + table).toInt();
}

void insertStation(TADOConnection& connection, const QString& computer, const QString& id,
                   const QString& stationId, const QVariant& ip = {}) {
    connection.Execute(QStringLiteral("INSERT INTO XRAYWORKSTATIONS "
                                      "(COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, STATIONID, IPADRESS) "
                                      "VALUES (:computer, :station, :id, :stationid, :ip)"),
                       {{QStringLiteral("computer"), computer},
                        {QStringLiteral("station"), QStringLiteral("Digora OPTIME")},
                        {QStringLiteral("id"), id},
                        {QStringLiteral("stationid"), stationId},
                        {QStringLiteral("ip"), ip}});
}

// The connections a listening server has taken so far.
int takenConnections(QTcpServer& server) {
    QTest::qWait(50);
    int taken = 0;
    while (QTcpSocket* connection = server.nextPendingConnection()) {
        ++taken;
        delete connection;
    }
    return taken;
}

// A PostgreSQL connection string for a server on this machine at `port`.
QString localPostgres(quint16 port) {
    return QStringLiteral("Provider=PostgreSQL;Data Source=127.0.0.1:%1;Initial Catalog=practice;"
                          "User ID=ravlek;Password=secret;Connect Timeout=2")
        .arg(port);
}

} // namespace

class tst_Database : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void connectsAndCloses_data() { engineRows(); }
    void connectsAndCloses();
    void rollbackUndoesAndCommitKeeps_data() { engineRows(); }
    void rollbackUndoesAndCommitKeeps();
    void openTransactionSeesRowsCommittedByOthers_data() { engineRows(); }
    void openTransactionSeesRowsCommittedByOthers();
    void failedStatementLeavesTransactionUsable_data();
    void failedStatementLeavesTransactionUsable();
    void preparedStatementsAreKept_data() { engineRows(); }
    void preparedStatementsAreKept();
    void parametersAreBoundNotSpliced_data() { engineRows(); }
    void parametersAreBoundNotSpliced();
    void appendEditDeleteRoundTrip_data() { engineRows(); }
    void appendEditDeleteRoundTrip();
    void optimisticChangeOfStaleRowFails_data();
    void optimisticChangeOfStaleRowFails();
    void readOnlyQueryRefusesEdits_data() { engineRows(); }
    void readOnlyQueryRefusesEdits();
    void closingConnectionClosesQueries_data() { engineRows(); }
    void closingConnectionClosesQueries();
    void execSqlReturnsRowsAffected_data() { engineRows(); }
    void execSqlReturnsRowsAffected();
    void changingSqlClosesOpenQuery_data() { engineRows(); }
    void changingSqlClosesOpenQuery();
    void variantFieldDataAnswersFalseForNull_data() { engineRows(); }
    void variantFieldDataAnswersFalseForNull();
    void schemaMatchesCatalog_data() { engineRows(); }
    void schemaMatchesCatalog();
    void modelFollowsQuery_data() { engineRows(); }
    void modelFollowsQuery();

    void sqliteFileIsSharedByTwoConnections();
    void nestedDataSetEndsWithItsParent();
    void unknownProviderIsNamed();
    void sqlServerGoesThroughOdbc();
    void odbcConnectionString_data();
    void odbcConnectionString();
    void sqlServerKeyIsClustered();
    void postgresTerminatedBackendIsReportedAndReconnects();
    void postgresIntegratedSecurityUsesSystemLogin();
    void failedConnectIsRememberedUntilOpen();
    void serverThatDoesNotAnswerCostsOneTimeOut();

private:
    static void engineRows();
    static QString currentEngine() {
        return QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char('/'), 0, 0);
    }
    QString connectionString(const QString& engine) const;
    std::unique_ptr<TADOConnection> connect(const QString& engine) const;
    std::unique_ptr<TADOConnection> connectCurrent() const { return connect(currentEngine()); }
    void createTables(TADOConnection& connection) const;

    QTemporaryDir m_dir;
    QString m_pgDatabase; // a database of this test run, dropped at the end
    int m_testNumber = 0;
};

void tst_Database::engineRows() {
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << kSqlite;
    QTest::newRow("postgresql") << kPostgres;
}

void tst_Database::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (!pgConfigured())
        return;
    m_pgDatabase = QStringLiteral("ravlek_tst_database_%1").arg(QCoreApplication::applicationPid());
    pgtest::createScratchDatabase(m_pgDatabase);
}

void tst_Database::cleanupTestCase() {
    if (m_pgDatabase.isEmpty())
        return;
    pgtest::dropScratchDatabase(m_pgDatabase);
}

void tst_Database::init() {
    ++m_testNumber;
    const QString tag = QString::fromUtf8(QTest::currentDataTag());
    const bool needsPostgres =
        tag.startsWith(kPostgres) ||
        QString::fromUtf8(QTest::currentTestFunction()).startsWith(QStringLiteral("postgres"));
    if (!needsPostgres)
        return;
    if (!pgtest::requirePostgres())
        return;
    // Each test starts from a database without tables.
    auto connection = connect(kPostgres);
    connection->Execute(QStringLiteral("SET client_min_messages TO WARNING"));
    connection->Execute(QStringLiteral("DROP SCHEMA public CASCADE"));
    connection->Execute(QStringLiteral("CREATE SCHEMA public"));
}

QString tst_Database::connectionString(const QString& engine) const {
    if (engine == kPostgres)
        return pgConnectionString(m_pgDatabase);
    // A fresh file in a folder that does not exist yet, for every test.
    return QStringLiteral("Provider=SQLite;Data Source=%1/test%2/db/ravlek.sqlite")
        .arg(m_dir.path())
        .arg(m_testNumber);
}

std::unique_ptr<TADOConnection> tst_Database::connect(const QString& engine) const {
    auto connection = std::make_unique<TADOConnection>();
    connection->SetConnectionString(connectionString(engine));
    connection->Open();
    return connection;
}

void tst_Database::createTables(TADOConnection& connection) const {
    TKelvoAdoQuery create;
    create.SetConnection(&connection);
    connection.BeginTrans();
    create.SetSQL(CreateXrayWorkstationsSql(connection.Engine()));
    create.ExecSQL();
    create.SetSQL(CreateXrayDeviceLockListSql(connection.Engine()));
    create.ExecSQL();
    connection.CommitTrans();
}

// ------------------------------------------------------------------------------------------

void tst_Database::connectsAndCloses() {
    TADOConnection connection;
    connection.SetName(QStringLiteral("Database1"));
    connection.SetTag(666);
    QVERIFY(!connection.Connected());
    connection.SetConnectionString(connectionString(currentEngine()));
    connection.Open();
    QVERIFY(connection.Connected());
    QCOMPARE(connection.Engine(),
             currentEngine() == kSqlite ? DataLinkEngine::SQLite : DataLinkEngine::PostgreSQL);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, connection.SetConnectionString(QString()));
    connection.Close();
    QVERIFY(!connection.Connected());
    connection.Open();
    QVERIFY(connection.Connected());
    QCOMPARE(connection.Name(), QStringLiteral("Database1"));
    QCOMPARE(connection.Tag(), 666);
}

void tst_Database::rollbackUndoesAndCommitKeeps() {
    auto connection = connectCurrent();
    auto other = connectCurrent();
    createTables(*connection);

    QVERIFY(!connection->InTransaction());
    connection->BeginTrans();
    QVERIFY(connection->InTransaction());
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), 1);
    connection->RollbackTrans();
    QVERIFY(!connection->InTransaction());
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), 0);

    connection->BeginTrans();
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    connection->CommitTrans();
    QCOMPARE(countRows(*other, QStringLiteral("XRAYWORKSTATIONS")), 1);

    // Closing undoes what the open transaction holds.
    connection->BeginTrans();
    insertStation(*connection, QStringLiteral("PC2"), QStringLiteral("OPT1"), QStringLiteral("Room 2"));
    connection->Close();
    QCOMPARE(countRows(*other, QStringLiteral("XRAYWORKSTATIONS")), 1);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, connection->CommitTrans());

    // Ending a unit of work and beginning the next at once: the end counts, and the next
    // transaction is a real one whose changes a rollback undoes.
    connection->Open();
    connection->BeginTrans();
    insertStation(*connection, QStringLiteral("PC3"), QStringLiteral("OPT1"), QStringLiteral("Room 3"));
    connection->RollbackAndBeginTrans();
    QVERIFY(connection->InTransaction());
    insertStation(*connection, QStringLiteral("PC4"), QStringLiteral("OPT1"), QStringLiteral("Room 4"));
    connection->CommitAndBeginTrans();
    QVERIFY(connection->InTransaction());
    QCOMPARE(countRows(*other, QStringLiteral("XRAYWORKSTATIONS")), 2);
    insertStation(*connection, QStringLiteral("PC5"), QStringLiteral("OPT1"), QStringLiteral("Room 5"));
    connection->RollbackTrans();
    QCOMPARE(countRows(*other, QStringLiteral("XRAYWORKSTATIONS")), 2);
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), 2);
}

void tst_Database::openTransactionSeesRowsCommittedByOthers() {
    auto workstation = connectCurrent();
    auto other = connectCurrent();
    createTables(*workstation);

    // The program keeps a transaction open all the time; a look-up in it must still see
    // what other workstations committed since, and a write after it must succeed.
    workstation->BeginTrans();
    QCOMPARE(countRows(*workstation, QStringLiteral("XRAYWORKSTATIONS")), 0);
    insertStation(*other, QStringLiteral("PC2"), QStringLiteral("OPT1"), QStringLiteral("Room 2"));
    QCOMPARE(countRows(*workstation, QStringLiteral("XRAYWORKSTATIONS")), 1);
    QCOMPARE(workstation->Execute(QStringLiteral("UPDATE XRAYWORKSTATIONS SET IPADRESS = '10.0.0.5'")), 1);
    workstation->CommitTrans();
    QCOMPARE(scalar(*other, QStringLiteral("SELECT IPADRESS FROM XRAYWORKSTATIONS")).toString(),
             QStringLiteral("10.0.0.5"));
}

void tst_Database::failedStatementLeavesTransactionUsable_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<bool>("wroteBefore");  // the transaction holds a change when the statement fails
    QTest::addColumn<bool>("withValues");   // the failing statement is a prepared one with values
    QTest::addColumn<bool>("failingWrite"); // the failing statement is a change, not a read
    for (const QString& engine : {kSqlite, kPostgres}) {
        const QByteArray e = engine.toUtf8();
        QTest::addRow("%s/read in a transaction that has only read", e.constData())
            << engine << false << false << false;
        QTest::addRow("%s/prepared read in a transaction that has only read", e.constData())
            << engine << false << true << false;
        QTest::addRow("%s/read after a change", e.constData()) << engine << true << false << false;
        QTest::addRow("%s/prepared read after a change", e.constData()) << engine << true << true << false;
        QTest::addRow("%s/change after a change", e.constData()) << engine << true << true << true;
    }
}

// The program keeps one transaction open all the time: a failed statement must leave it usable,
// with the changes made before the failure, on every engine (PostgreSQL would refuse every
// further statement of a spoiled transaction).
void tst_Database::failedStatementLeavesTransactionUsable() {
    QFETCH(bool, wroteBefore);
    QFETCH(bool, withValues);
    QFETCH(bool, failingWrite);
    auto connection = connectCurrent();
    createTables(*connection);
    connection->BeginTrans();
    if (wroteBefore)
        insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    try {
        if (failingWrite) {
            connection->Execute(QStringLiteral("UPDATE NOSUCHTABLE SET X = :x"), {{QStringLiteral("x"), 1}});
        } else {
            TADOQuery probe;
            probe.SetConnection(connection.get());
            probe.SQL()->Add(withValues ? QStringLiteral("SELECT * FROM NOSUCHTABLE WHERE X = :x")
                                        : QStringLiteral("SELECT * FROM NOSUCHTABLE WHERE 1 = 0"));
            if (withValues)
                probe.Parameters().ParamByName(QStringLiteral("x")).Value = 1;
            probe.Open();
        }
        QFAIL("a statement on a missing table ran");
    } catch (const EDatabaseError& error) {
        QVERIFY2(error.Message().contains(QStringLiteral("NOSUCHTABLE"), Qt::CaseInsensitive),
                 qPrintable(error.Message()));
        QCOMPARE(connection->LastError(), error.Message());
    }
    QVERIFY(connection->InTransaction());
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), wroteBefore ? 1 : 0);
    insertStation(*connection, QStringLiteral("PC2"), QStringLiteral("OPT1"), QStringLiteral("Room 2"));
    // The program ends each unit of work and begins the next at once; the end must keep the
    // changes made around the failure (a spoiled transaction would be rolled back instead).
    connection->CommitAndBeginTrans();
    QVERIFY(connection->InTransaction());
    QCOMPARE(countRows(*connect(currentEngine()), QStringLiteral("XRAYWORKSTATIONS")), wroteBefore ? 2 : 1);
    insertStation(*connection, QStringLiteral("PC3"), QStringLiteral("OPT1"), QStringLiteral("Room 3"));
    connection->CommitTrans();
    QCOMPARE(countRows(*connect(currentEngine()), QStringLiteral("XRAYWORKSTATIONS")), wroteBefore ? 3 : 2);
}

// A look-up runs the same texts over and over, each unit of work ended by a rollback: they are
// prepared once and kept, and each run still sees what other workstations committed since.
void tst_Database::preparedStatementsAreKept() {
    auto workstation = connectCurrent();
    auto other = connectCurrent();
    createTables(*workstation);
    TADOQuery lookUp;
    lookUp.SetConnection(workstation.get());
    lookUp.SetLockType(TADOLockType::ltReadOnly);
    lookUp.SetSQL({QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"),
                   QStringLiteral("WHERE XRAYSTATION =:xraystation")});
    lookUp.Parameters().ParamByName(QStringLiteral("xraystation")).Value = QStringLiteral("Digora OPTIME");

    workstation->BeginTrans();
    for (int round = 0; round < 3; ++round) {
        insertStation(*other, QStringLiteral("PC%1").arg(round), QStringLiteral("OPT1"),
                      QStringLiteral("Room %1").arg(round));
        lookUp.Open();
        QCOMPARE(lookUp.RecordCount(), round + 1);
        lookUp.Close();
        workstation->RollbackTrans();
        workstation->BeginTrans();
    }
    if (currentEngine() == kPostgres) {
        // One statement prepared on the server for the three runs.
        QCOMPARE(scalar(*workstation, QStringLiteral("SELECT COUNT(*) FROM pg_prepared_statements")).toInt(),
                 1);
    }
    // Closing the connection lets the statements go; the next connect prepares anew.
    workstation->Close();
    workstation->Open();
    lookUp.Open();
    QCOMPARE(lookUp.RecordCount(), 3);
}

void tst_Database::parametersAreBoundNotSpliced() {
    auto connection = connectCurrent();
    createTables(*connection);
    const QString computer = QStringLiteral("O'BRIEN'S PC");
    const QString hostile = QStringLiteral("x'; DROP TABLE XRAYWORKSTATIONS; --");
    const QString colons = QStringLiteral(":notaparam \"quoted\"");
    insertStation(*connection, computer, QStringLiteral("OPT1"), colons);
    insertStation(*connection, hostile, QStringLiteral("OPT1"), QStringLiteral("Room 2"));

    TADOQuery QXRAYDEV;
    QXRAYDEV.setObjectName(QStringLiteral("QXRAYDEV"));
    QXRAYDEV.SetConnection(connection.get());
    QXRAYDEV.SetLockType(TADOLockType::ltReadOnly);
    QXRAYDEV.SetSQL({QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"),
                     QStringLiteral("WHERE COMPUTERNAME =:computername"),
                     QStringLiteral("AND XRAYSTATION =:xraystation"),
                     QStringLiteral("AND XRAYSTATIONID =:xraystationid")});
    QCOMPARE(QXRAYDEV.Parameters().Count(), 3);
    QXRAYDEV.Parameters().ParamByName(QStringLiteral("computername")).Size = 50;
    QXRAYDEV.Parameters().ParamByName(QStringLiteral("computername")).Value = computer;
    QXRAYDEV.Parameters().ParamByName(QStringLiteral("xraystation")).Value = QStringLiteral("Digora OPTIME");
    QXRAYDEV.Parameters().ParamByName(QStringLiteral("xraystationid")).Value = QStringLiteral("OPT1");
    QXRAYDEV.Open();
    QCOMPARE(QXRAYDEV.RecordCount(), 1);
    QCOMPARE(QXRAYDEV.FieldByName(QStringLiteral("COMPUTERNAME")).AsString(), computer);
    QCOMPARE(QXRAYDEV.FieldByName(QStringLiteral("stationid")).AsString(), colons);

    // Setting the same text again keeps the parameters and their sizes.
    QXRAYDEV.SetSQL(QXRAYDEV.SQL()->Lines());
    QCOMPARE(QXRAYDEV.Parameters().ParamByName(QStringLiteral("computername")).Size, 50);
    QXRAYDEV.Parameters().ParamByName(QStringLiteral("computername")).Value = hostile;
    QXRAYDEV.Open();
    QCOMPARE(QXRAYDEV.RecordCount(), 1);
    QCOMPARE(QXRAYDEV.FieldByName(QStringLiteral("COMPUTERNAME")).AsString(), hostile);
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), 2);

    try {
        QXRAYDEV.FieldByName(QStringLiteral("NOSUCHFIELD"));
        QFAIL("an unknown field was found");
    } catch (const EDatabaseError& error) {
        QCOMPARE(error.Message(), QStringLiteral("QXRAYDEV: Field 'NOSUCHFIELD' not found"));
    }
}

void tst_Database::appendEditDeleteRoundTrip() {
    auto connection = connectCurrent();
    createTables(*connection);
    TADOQuery QXRAYWORKSTATIONS;
    QXRAYWORKSTATIONS.SetConnection(connection.get());
    QXRAYWORKSTATIONS.SetSQL(
        {QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"), QStringLiteral("ORDER BY STATIONID")});
    QXRAYWORKSTATIONS.Open();
    QCOMPARE(QXRAYWORKSTATIONS.RecordCount(), 0);
    QVERIFY(QXRAYWORKSTATIONS.Eof());
    QCOMPARE(QXRAYWORKSTATIONS.UpdateTable(), QStringLiteral("XRAYWORKSTATIONS"));

    QStringList names;
    for (int i = 0; i < QXRAYWORKSTATIONS.FieldCount(); ++i)
        names.append(QXRAYWORKSTATIONS.Fields(i).FieldName());
    QCOMPARE(names, (QStringList{QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"),
                                 QStringLiteral("XRAYSTATIONID"), QStringLiteral("STATIONID"),
                                 QStringLiteral("IPADRESS")}));

    const QStringList stations{QStringLiteral("Room C"), QStringLiteral("Room A"), QStringLiteral("Room B")};
    for (const QString& station : stations) {
        QXRAYWORKSTATIONS.Append();
        QCOMPARE(QXRAYWORKSTATIONS.State(), TDataSetState::dsInsert);
        QXRAYWORKSTATIONS.FieldByName(QStringLiteral("COMPUTERNAME")).SetAsString(QStringLiteral("PC1"));
        QXRAYWORKSTATIONS.FieldByName(QStringLiteral("XRAYSTATION"))
            .SetAsString(QStringLiteral("Digora OPTIME"));
        QXRAYWORKSTATIONS.FieldByName(QStringLiteral("XRAYSTATIONID")).SetAsString(station.right(1));
        QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).SetAsString(station);
        QXRAYWORKSTATIONS.Post();
        QCOMPARE(QXRAYWORKSTATIONS.State(), TDataSetState::dsBrowse);
    }
    QCOMPARE(QXRAYWORKSTATIONS.RecordCount(), 3);
    QCOMPARE(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).AsString(), QStringLiteral("Room B"));

    QXRAYWORKSTATIONS.Close();
    QXRAYWORKSTATIONS.Open();
    QCOMPARE(QXRAYWORKSTATIONS.RecordCount(), 3);
    QStringList read;
    for (QXRAYWORKSTATIONS.First(); !QXRAYWORKSTATIONS.Eof(); QXRAYWORKSTATIONS.Next())
        read.append(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).AsString());
    QCOMPARE(read,
             (QStringList{QStringLiteral("Room A"), QStringLiteral("Room B"), QStringLiteral("Room C")}));

    // An edit of a row whose IPADRESS is Null finds it again (Null-aware comparison).
    QXRAYWORKSTATIONS.First();
    QVERIFY(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("IPADRESS")).IsNull());
    QXRAYWORKSTATIONS.Edit();
    QXRAYWORKSTATIONS.FieldByName(QStringLiteral("IPADRESS")).SetAsString(QStringLiteral("192.168.1.20"));
    QXRAYWORKSTATIONS.Post();
    QXRAYWORKSTATIONS.Next();
    QXRAYWORKSTATIONS.Delete();
    QCOMPARE(QXRAYWORKSTATIONS.RecordCount(), 2);

    QXRAYWORKSTATIONS.Requery();
    QCOMPARE(QXRAYWORKSTATIONS.RecordCount(), 2);
    QXRAYWORKSTATIONS.First();
    QCOMPARE(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("IPADRESS")).AsString(),
             QStringLiteral("192.168.1.20"));
    QXRAYWORKSTATIONS.Next();
    QCOMPARE(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).AsString(), QStringLiteral("Room C"));

    // A cancelled edit leaves the row as it was.
    QXRAYWORKSTATIONS.Edit();
    QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).SetAsString(QStringLiteral("changed"));
    QXRAYWORKSTATIONS.Cancel();
    QCOMPARE(QXRAYWORKSTATIONS.FieldByName(QStringLiteral("STATIONID")).AsString(), QStringLiteral("Room C"));
}

void tst_Database::optimisticChangeOfStaleRowFails_data() {
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("otherChange");
    QTest::addColumn<bool>("deleteRow");
    for (const QString& engine : {kSqlite, kPostgres}) {
        for (const QString& change : {QStringLiteral("update"), QStringLiteral("delete")}) {
            QTest::addRow("%s/%s/post", qPrintable(engine), qPrintable(change)) << engine << change << false;
            QTest::addRow("%s/%s/delete", qPrintable(engine), qPrintable(change)) << engine << change << true;
        }
    }
}

void tst_Database::optimisticChangeOfStaleRowFails() {
    QFETCH(QString, otherChange);
    QFETCH(bool, deleteRow);
    auto connection = connectCurrent();
    auto other = connectCurrent();
    createTables(*connection);
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));

    TADOQuery query;
    query.SetConnection(connection.get());
    query.SQL()->Add(QStringLiteral("SELECT * FROM XRAYDEVICELOCKLIST"));
    query.SQL()->SetText(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS\nORDER BY STATIONID"));
    query.Open();
    QCOMPARE(query.RecordCount(), 1);

    other->Execute(otherChange == QStringLiteral("update")
                       ? QStringLiteral("UPDATE XRAYWORKSTATIONS SET STATIONID = 'Room 9'")
                       : QStringLiteral("DELETE FROM XRAYWORKSTATIONS"));
    try {
        if (deleteRow) {
            query.Delete();
        } else {
            query.Edit();
            query.FieldByName(QStringLiteral("IPADRESS")).SetAsString(QStringLiteral("10.1.1.1"));
            query.Post();
        }
        QFAIL("a stale row was written");
    } catch (const EDatabaseError& error) {
        QCOMPARE(error.Message(),
                 QStringLiteral("Row cannot be located for updating. Some values may have been "
                                "changed since it was last read"));
        QCOMPARE(connection->LastError(), error.Message());
    }
    QCOMPARE(query.State(), deleteRow ? TDataSetState::dsBrowse : TDataSetState::dsEdit);
    query.Cancel();
    QCOMPARE(
        scalar(*other, QStringLiteral("SELECT COUNT(*) FROM XRAYWORKSTATIONS WHERE IPADRESS IS NOT NULL"))
            .toInt(),
        0);

    // Read afresh, the row can be changed.
    query.Requery();
    if (query.RecordCount() == 1) {
        query.Edit();
        query.FieldByName(QStringLiteral("IPADRESS")).SetAsString(QStringLiteral("10.1.1.1"));
        query.Post();
        QCOMPARE(scalar(*other, QStringLiteral("SELECT IPADRESS FROM XRAYWORKSTATIONS")).toString(),
                 QStringLiteral("10.1.1.1"));
    }
}

void tst_Database::readOnlyQueryRefusesEdits() {
    auto connection = connectCurrent();
    createTables(*connection);
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    TADOQuery query;
    query.SetConnection(connection.get());
    query.SetLockType(TADOLockType::ltReadOnly);
    query.SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"));
    query.Open();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.Edit());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.Delete());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                             query.FieldByName(QStringLiteral("STATIONID")).SetAsString(QString()));

    // A join has no single table to write to.
    TADOQuery joined;
    joined.SetConnection(connection.get());
    joined.SQL()->Add(QStringLiteral("SELECT W.STATIONID FROM XRAYWORKSTATIONS W JOIN XRAYDEVICELOCKLIST L "
                                     "ON L.COMPUTERNAME = W.COMPUTERNAME"));
    joined.Open();
    QVERIFY(joined.UpdateTable().isEmpty());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, joined.Append());
    QCOMPARE(countRows(*connection, QStringLiteral("XRAYWORKSTATIONS")), 1);
}

void tst_Database::closingConnectionClosesQueries() {
    auto connection = connectCurrent();
    createTables(*connection);
    TADOQuery query;
    query.SetConnection(connection.get());
    query.SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"));
    query.Open();
    connection->Close();
    QVERIFY(!query.Active());
    // A query does not connect a closed connection again with whatever string it last had:
    // reconnecting is the owner's deliberate step.
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.Open());
    QVERIFY(!connection->Connected());
    connection->Open();
    query.Open();
    QVERIFY(query.Active());
}

void tst_Database::execSqlReturnsRowsAffected() {
    auto connection = connectCurrent();
    createTables(*connection);
    for (const QString& id : {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
        insertStation(*connection, QStringLiteral("PC1"), id, QStringLiteral("Room ") + id);
    insertStation(*connection, QStringLiteral("PC2"), QStringLiteral("A"), QStringLiteral("Room X"));

    TKelvoAdoQuery query;
    query.SetSQL({QStringLiteral("UPDATE XRAYWORKSTATIONS SET IPADRESS = :ip"),
                  QStringLiteral("WHERE COMPUTERNAME = :computer")});
    query.SetConnection(connection.get());
    query.Parameters().ParamByName(QStringLiteral("ip")).Value = QStringLiteral("10.0.0.1");
    query.Parameters().ParamByName(QStringLiteral("computer")).Value = QStringLiteral("PC1");
    QCOMPARE(query.ExecSQL(), 3);
    QCOMPARE(query.RowsAffected(), 3);
    QCOMPARE(connection->Execute(QStringLiteral("DELETE FROM XRAYWORKSTATIONS WHERE COMPUTERNAME = 'PC2'")),
             1);
}

void tst_Database::changingSqlClosesOpenQuery() {
    auto connection = connectCurrent();
    createTables(*connection);
    TKelvoAdoQuery query;
    query.SetConnection(connection.get());
    query.SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"));
    query.Open();
    QVERIFY(query.Active());
    query.SQL()->Add(QStringLiteral("WHERE COMPUTERNAME = :computer"));
    QVERIFY(!query.Active());
    QCOMPARE(query.CommandText(),
             QStringLiteral("SELECT * FROM XRAYWORKSTATIONS\nWHERE COMPUTERNAME = :computer"));
    QCOMPARE(query.Parameters().Count(), 1);
    query.Open();
    query.SQL()->Clear();
    QVERIFY(!query.Active());
    QVERIFY(query.CommandText().isEmpty());
}

void tst_Database::variantFieldDataAnswersFalseForNull() {
    auto connection = connectCurrent();
    createTables(*connection);
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    connection->Execute(
        QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST VALUES ('PC1', 'Digora OPTIME', 'OPT1', 7)"));

    TKelvoAdoQuery query;
    query.SetConnection(connection.get());
    query.SQL()->Add(QStringLiteral("SELECT W.IPADRESS, W.STATIONID, L.LOCKNUMBER FROM XRAYWORKSTATIONS W, "
                                    "XRAYDEVICELOCKLIST L"));
    query.Open();
    const QVariant untouched(QStringLiteral("untouched"));
    QVariant value = untouched;
    QVERIFY(!query.GetFieldData(query.FieldByName(QStringLiteral("IPADRESS")), &value));
    QCOMPARE(value, untouched);
    QVERIFY(query.GetFieldData(query.FieldByName(QStringLiteral("STATIONID")), &value));
    QCOMPARE(value.toString(), QStringLiteral("Room 1"));
    QVERIFY(query.GetFieldData(query.FieldByName(QStringLiteral("LOCKNUMBER")), nullptr));
    QVERIFY(query.GetFieldData(query.FieldByName(QStringLiteral("LOCKNUMBER")), &value));
    QVERIFY(value.typeId() != QMetaType::QString);
    QCOMPARE(value.toInt(), 7);

    // No current record: no value.
    query.SQL()->SetText(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS WHERE 1 = 0"));
    query.Open();
    QVERIFY(!query.GetFieldData(query.FieldByName(QStringLiteral("STATIONID")), &value));

    if (currentEngine() == kSqlite) {
        // A column without a declared type holds what each row stored.
        connection->Execute(QStringLiteral("CREATE TABLE VARIANTS (N INT, V)"));
        connection->Execute(QStringLiteral("INSERT INTO VARIANTS VALUES (1, 42), (2, 'text'), (3, NULL)"));
        query.SQL()->SetText(QStringLiteral("SELECT V FROM VARIANTS ORDER BY N"));
        query.Open();
        QVERIFY(query.GetFieldData(query.Fields(0), &value));
        QCOMPARE(value.typeId(), QMetaType::LongLong);
        QCOMPARE(value.toInt(), 42);
        query.Next();
        QVERIFY(query.GetFieldData(query.Fields(0), &value));
        QCOMPARE(value, QVariant(QStringLiteral("text")));
        query.Next();
        QVERIFY(!query.GetFieldData(query.Fields(0), &value));
    }
}

void tst_Database::schemaMatchesCatalog() {
    auto connection = connectCurrent();
    createTables(*connection);
    struct Expected {
        QString table;
        QStringList columns; // name, type and null rule as the schema defines them
        QString primaryKey;
        QStringList keyColumns;
    };
    const QList<Expected> expected{
        {QStringLiteral("XRAYWORKSTATIONS"),
         {QStringLiteral("COMPUTERNAME VARCHAR(50) NOT NULL"),
          QStringLiteral("XRAYSTATION VARCHAR(30) NOT NULL"),
          QStringLiteral("XRAYSTATIONID VARCHAR(20) NOT NULL"),
          QStringLiteral("STATIONID VARCHAR(100) NOT NULL"), QStringLiteral("IPADRESS VARCHAR(20) NULL")},
         QStringLiteral("PK_XRAYWORKSTATIONS"),
         {QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"), QStringLiteral("XRAYSTATIONID")}},
        {QStringLiteral("XRAYDEVICELOCKLIST"),
         {QStringLiteral("COMPUTERNAME VARCHAR(50) NOT NULL"),
          QStringLiteral("XRAYSTATION VARCHAR(30) NOT NULL"),
          QStringLiteral("XRAYSTATIONID VARCHAR(20) NOT NULL"), QStringLiteral("LOCKNUMBER INT NOT NULL")},
         QStringLiteral("PK_XRAYDEVICELOCKLIST"),
         {QStringLiteral("COMPUTERNAME"), QStringLiteral("XRAYSTATION"), QStringLiteral("XRAYSTATIONID"),
          QStringLiteral("LOCKNUMBER")}},
    };
    for (const Expected& table : expected) {
        QStringList columns;
        QStringList keyColumns;
        QString primaryKey;
        TADOQuery catalog;
        catalog.SetConnection(connection.get());
        if (currentEngine() == kSqlite) {
            catalog.SQL()->Add(QStringLiteral("PRAGMA table_info(%1)").arg(table.table));
            catalog.Open();
            QMap<int, QString> keyByPosition;
            for (; !catalog.Eof(); catalog.Next()) {
                const QString name = catalog.FieldByName(QStringLiteral("NAME")).AsString();
                columns.append(QStringLiteral("%1 %2 %3")
                                   .arg(name, catalog.FieldByName(QStringLiteral("TYPE")).AsString(),
                                        catalog.FieldByName(QStringLiteral("NOTNULL")).AsInteger()
                                            ? QStringLiteral("NOT NULL")
                                            : QStringLiteral("NULL")));
                if (const int position = catalog.FieldByName(QStringLiteral("PK")).AsInteger())
                    keyByPosition.insert(position, name);
            }
            keyColumns = keyByPosition.values();
            const QString createText =
                scalar(*connection,
                       QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = '%1'")
                           .arg(table.table))
                    .toString();
            static const QRegularExpression constraint(
                QStringLiteral("CONSTRAINT\\s+(\\w+)\\s+PRIMARY KEY\\s*\\("));
            primaryKey = constraint.match(createText).captured(1);
        } else {
            catalog.SQL()->Add(
                QStringLiteral("SELECT column_name, data_type, character_maximum_length, is_nullable "
                               "FROM information_schema.columns WHERE table_schema = current_schema() "
                               "AND table_name = lower(:t) ORDER BY ordinal_position"));
            catalog.Parameters().ParamByName(QStringLiteral("t")).Value = table.table;
            catalog.Open();
            for (; !catalog.Eof(); catalog.Next()) {
                const QString dataType = catalog.FieldByName(QStringLiteral("DATA_TYPE")).AsString();
                const QString type =
                    dataType == QStringLiteral("character varying")
                        ? QStringLiteral("VARCHAR(%1)")
                              .arg(
                                  catalog.FieldByName(QStringLiteral("CHARACTER_MAXIMUM_LENGTH")).AsInteger())
                    : dataType == QStringLiteral("integer") ? QStringLiteral("INT")
                                                            : dataType;
                columns.append(
                    QStringLiteral("%1 %2 %3")
                        .arg(catalog.FieldByName(QStringLiteral("COLUMN_NAME")).AsString().toUpper(), type,
                             catalog.FieldByName(QStringLiteral("IS_NULLABLE")).AsString() ==
                                     QStringLiteral("NO")
                                 ? QStringLiteral("NOT NULL")
                                 : QStringLiteral("NULL")));
            }
            catalog.SQL()->SetText(QStringLiteral(
                "SELECT c.constraint_name, k.column_name FROM information_schema.table_constraints c "
                "JOIN information_schema.key_column_usage k ON k.constraint_name = c.constraint_name "
                "AND k.table_schema = c.table_schema WHERE c.table_schema = current_schema() "
                "AND c.table_name = lower(:t) AND c.constraint_type = 'PRIMARY KEY' ORDER BY "
                "k.ordinal_position"));
            catalog.Parameters().ParamByName(QStringLiteral("t")).Value = table.table;
            catalog.Open();
            for (; !catalog.Eof(); catalog.Next()) {
                primaryKey = catalog.FieldByName(QStringLiteral("CONSTRAINT_NAME")).AsString().toUpper();
                keyColumns.append(catalog.FieldByName(QStringLiteral("COLUMN_NAME")).AsString().toUpper());
            }
        }
        QCOMPARE(columns, table.columns);
        QCOMPARE(primaryKey, table.primaryKey);
        QCOMPARE(keyColumns, table.keyColumns);
    }
}

void tst_Database::modelFollowsQuery() {
    auto connection = connectCurrent();
    createTables(*connection);
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    TADOQuery query;
    query.SetConnection(connection.get());
    query.SetSQL({QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"), QStringLiteral("ORDER BY STATIONID")});
    TDataSetModel model(&query);
    QCOMPARE(model.rowCount(), 0);
    query.Open();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.columnCount(), 5);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("COMPUTERNAME"));
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("Room 1"));
    QVERIFY(!model.data(model.index(0, 4)).isValid());

    query.Append();
    query.FieldByName(QStringLiteral("COMPUTERNAME")).SetAsString(QStringLiteral("PC2"));
    query.FieldByName(QStringLiteral("XRAYSTATION")).SetAsString(QStringLiteral("Digora Toto"));
    query.FieldByName(QStringLiteral("XRAYSTATIONID")).SetAsString(QStringLiteral("TOTO"));
    query.FieldByName(QStringLiteral("STATIONID")).SetAsString(QStringLiteral("Room 2"));
    query.Post();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("PC2"));
    query.First();
    query.Delete();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 0)).toString(), QStringLiteral("PC2"));
    query.Close();
    QCOMPARE(model.rowCount(), 0);
}

// --- one engine or none -----------------------------------------------------------------------

void tst_Database::sqliteFileIsSharedByTwoConnections() {
    auto first = connect(kSqlite);
    auto second = connect(kSqlite);
    createTables(*first);
    QCOMPARE(scalar(*second, QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    QCOMPARE(scalar(*second, QStringLiteral("PRAGMA busy_timeout")).toInt(), 5000);

    // While one connection holds uncommitted changes the other still reads.
    first->BeginTrans();
    insertStation(*first, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    QCOMPARE(countRows(*second, QStringLiteral("XRAYWORKSTATIONS")), 0);
    first->CommitTrans();
    QCOMPARE(countRows(*second, QStringLiteral("XRAYWORKSTATIONS")), 1);
    second->BeginTrans();
    insertStation(*second, QStringLiteral("PC2"), QStringLiteral("OPT1"), QStringLiteral("Room 2"));
    second->CommitTrans();
    QCOMPARE(countRows(*first, QStringLiteral("XRAYWORKSTATIONS")), 2);
}

void tst_Database::nestedDataSetEndsWithItsParent() {
    auto connection = connect(kSqlite);
    createTables(*connection);
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("A"), QStringLiteral("Room A"));
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("B"), QStringLiteral("Room B"));
    TADOQuery parent;
    parent.SetConnection(connection.get());
    parent.SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS WHERE XRAYSTATIONID = 'A'"));
    TKelvoAdoQuery child;
    child.SetConnection(connection.get());
    child.SQL()->Add(QStringLiteral("SELECT * FROM XRAYWORKSTATIONS"));
    child.SetParentDataSet(&parent);
    child.Open();
    QVERIFY(!child.Eof()); // an inactive parent does not end the child
    parent.Open();
    QVERIFY(!child.Eof());
    parent.Append();
    QVERIFY(child.Eof());
    parent.Cancel();
    QVERIFY(!child.Eof());
    parent.Next();
    QVERIFY(parent.Eof());
    QVERIFY(child.Eof());
    QCOMPARE(child.GetParentDataSet(), &parent);
}

void tst_Database::unknownProviderIsNamed() {
    TADOConnection connection;
    connection.SetConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c:\\db.mdb"));
    try {
        connection.Open();
        QFAIL("an unknown provider connected");
    } catch (const EDatabaseError& error) {
        QVERIFY2(error.Message().contains(QStringLiteral("\"Microsoft.Jet.OLEDB.4.0\"")),
                 qPrintable(error.Message()));
        QCOMPARE(connection.LastError(), error.Message());
    }
    QVERIFY(!connection.Connected());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, connection.Engine());
}

void tst_Database::sqlServerGoesThroughOdbc() {
    const QByteArray saved = qgetenv("RAVLEK_ODBC_DRIVER");
    qputenv("RAVLEK_ODBC_DRIVER", "Ravlek No Such Driver");
    TADOConnection connection;
    connection.SetConnectionString(
        QStringLiteral("Provider=SQLOLEDB.1;Password=x;Persist Security Info=True;User ID=u;Initial "
                       "Catalog=db;Data Source=127.0.0.1"));
    QCOMPARE(connection.Engine(), DataLinkEngine::SqlServer);
    QString message;
    try {
        connection.Open();
    } catch (const EDatabaseError& error) {
        message = error.Message();
    }
    if (saved.isNull())
        qunsetenv("RAVLEK_ODBC_DRIVER");
    else
        qputenv("RAVLEK_ODBC_DRIVER", saved);
    QVERIFY2(!message.isEmpty(), "the connect with a missing ODBC driver did not fail");
    QVERIFY(!connection.Connected());
}

void tst_Database::odbcConnectionString_data() {
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("odbc");
    const QString freeTds = QStringLiteral("FreeTDS");
    QTest::newRow("login") << QStringLiteral(
                                  "Provider=SQLOLEDB.1;User ID=sa;Password=pw;Initial Catalog=Kelvo;"
                                  "Data Source=SERVER\\SQLEXPRESS")
                           << freeTds
                           << QStringLiteral(
                                  "DRIVER={FreeTDS};SERVER=SERVER\\SQLEXPRESS;DATABASE=Kelvo;UID=sa;PWD=pw;");
    QTest::newRow("sspi, FreeTDS port")
        << QStringLiteral("Provider=MSOLEDBSQL;Integrated Security=SSPI;"
                          "Initial Catalog=Kelvo;Data Source=db,1433")
        << freeTds
        << QStringLiteral("DRIVER={FreeTDS};SERVER=db;PORT=1433;DATABASE=Kelvo;"
                          "Trusted_Connection=Yes;");
    QTest::newRow("Microsoft port") << QStringLiteral(
                                           "Provider=MSOLEDBSQL;Integrated Security=SSPI;Data Source=db,1433")
                                    << QStringLiteral("ODBC Driver 18 for SQL Server")
                                    << QStringLiteral("DRIVER={ODBC Driver 18 for SQL Server};SERVER=db,1433;"
                                                      "Trusted_Connection=Yes;");
    QTest::newRow("braces") << QStringLiteral(
                                   "Provider=SQLNCLI11;User ID=sa;Password=\"a;b}c\";Data Source=db")
                            << freeTds << QStringLiteral("DRIVER={FreeTDS};SERVER=db;UID=sa;PWD={a;b}}c};");
    // Half a surrogate pair (a damaged UTF-16 data-link file) must not let a ";" through.
    const QString halfPair(QChar(0xD800));
    QTest::newRow("half a surrogate pair in the password")
        << QStringLiteral("Provider=SQLNCLI11;User ID=sa;Password=\"x") + halfPair +
               QStringLiteral(";SERVER=evil\";Data Source=db")
        << freeTds
        << QStringLiteral("DRIVER={FreeTDS};SERVER=db;UID=sa;PWD={x") + halfPair +
               QStringLiteral(";SERVER=evil};");
}

void tst_Database::odbcConnectionString() {
    QFETCH(QString, connectionString);
    QFETCH(QString, driver);
    QFETCH(QString, odbc);
    QCOMPARE(OdbcConnectionString(ParseConnectionString(connectionString), driver), odbc);
}

void tst_Database::sqlServerKeyIsClustered() {
    const QString sqlServer = CreateXrayWorkstationsSql(DataLinkEngine::SqlServer).join(QLatin1Char('\n'));
    QVERIFY(sqlServer.contains(QStringLiteral(
        "CONSTRAINT PK_XRAYWORKSTATIONS PRIMARY KEY CLUSTERED (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID)")));
    QVERIFY(
        CreateXrayDeviceLockListSql(DataLinkEngine::SqlServer)
            .join(QLatin1Char('\n'))
            .contains(QStringLiteral("CONSTRAINT PK_XRAYDEVICELOCKLIST PRIMARY KEY CLUSTERED (COMPUTERNAME, "
                                     "XRAYSTATION, XRAYSTATIONID, LOCKNUMBER)")));
    for (DataLinkEngine engine : {DataLinkEngine::PostgreSQL, DataLinkEngine::SQLite})
        QVERIFY(
            !CreateXrayWorkstationsSql(engine).join(QLatin1Char('\n')).contains(QStringLiteral("CLUSTERED")));
}

void tst_Database::postgresTerminatedBackendIsReportedAndReconnects() {
    auto connection = connect(kPostgres);
    auto administrator = connect(kPostgres);
    createTables(*connection);
    connection->BeginTrans();
    const int pid = scalar(*connection, QStringLiteral("SELECT pg_backend_pid()")).toInt();
    QVERIFY(pid > 0);
    QVERIFY(scalar(*administrator, QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid)).toBool());
    QTRY_COMPARE_WITH_TIMEOUT(
        scalar(*administrator,
               QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE pid = %1").arg(pid))
            .toInt(),
        0, 20000);

    try {
        insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
        QFAIL("a statement on a terminated connection succeeded");
    } catch (const EDatabaseError& error) {
        QVERIFY2(error.Message().contains(QStringLiteral("connection")), qPrintable(error.Message()));
        QCOMPARE(connection->LastError(), error.Message());
    }
    connection->Close();
    connection->Open();
    connection->BeginTrans();
    insertStation(*connection, QStringLiteral("PC1"), QStringLiteral("OPT1"), QStringLiteral("Room 1"));
    connection->CommitTrans();
    QCOMPARE(countRows(*administrator, QStringLiteral("XRAYWORKSTATIONS")), 1);
}

void tst_Database::postgresIntegratedSecurityUsesSystemLogin() {
    const QString host = pgVariable("HOST");
    if (host != QStringLiteral("localhost") && host != QStringLiteral("127.0.0.1"))
        QSKIP("the operating-system login needs the server on this machine");
    TADOConnection connection;
    connection.SetConnectionString(
        QStringLiteral("Provider=PostgreSQL;Integrated Security=SSPI;Persist Security "
                       "Info=False;Initial Catalog=%1;Data Source=localhost:%2")
            .arg(m_pgDatabase, pgVariable("PORT")));
    connection.Open();
    const passwd* account = getpwuid(geteuid());
    QVERIFY(account);
    QCOMPARE(scalar(connection, QStringLiteral("SELECT session_user")).toString(),
             QString::fromLocal8Bit(account->pw_name));
}

// A connect that failed is not tried again by the data sets or the statements: they fail at
// once, as not reached (already reported), until the program opens the connection again.
void tst_Database::failedConnectIsRememberedUntilOpen() {
    quint16 port = 0;
    {
        // A port that was free a moment ago: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    TADOConnection connection;
    connection.SetConnectionString(localPostgres(port));
    QVERIFY(!connection.ConnectFailed());
    try {
        connection.Open();
        QFAIL("connected where nothing listens");
    } catch (const EDatabaseUnreachable&) {
        QFAIL("the first failure is the one that reports");
    } catch (const EDatabaseError& error) {
        QVERIFY(!error.Message().isEmpty());
    }
    QVERIFY(connection.ConnectFailed());
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL()->Add(QStringLiteral("SELECT 1"));
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, query.Open());
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, connection.BeginTrans());
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, connection.Execute(QStringLiteral("SELECT 1")));

    // Opening again is deliberate: it tries, and a server that answers now is reached.
    QTcpServer later;
    QVERIFY(later.listen(QHostAddress::LocalHost, port));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, connection.Open());
    QCOMPARE(takenConnections(later), 1);
    TADOConnection::ForgetUnreachableServers();
}

// A server that takes the connection and never answers lets the connect run into its time-out.
// Every connection of the process is then refused at once, instead of waiting as long again,
// until a deliberate reconnect forgets the server.
void tst_Database::serverThatDoesNotAnswerCostsOneTimeOut() {
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    TADOConnection first;
    first.SetConnectionString(localPostgres(silent.serverPort()));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, first.Open());
    QCOMPARE(takenConnections(silent), 1);

    TADOConnection second;
    second.SetConnectionString(localPostgres(silent.serverPort()));
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, second.Open());
    QVERIFY_THROWS_EXCEPTION(EDatabaseUnreachable, first.Open());
    QCOMPARE(takenConnections(silent), 0);

    TADOConnection::ForgetUnreachableServers();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, second.Open());
    QCOMPARE(takenConnections(silent), 1);
    TADOConnection::ForgetUnreachableServers();
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
