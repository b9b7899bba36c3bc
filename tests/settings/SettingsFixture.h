#pragma once

// Shared by the settings window's tests: an isolated installation with a data-link file
// for SQLite or PostgreSQL, a database of the run on the PostgreSQL server, and the shape
// of a table as the engine's catalogue reports it.

#include "database/DataLinkFile.h"
#include "database/KelvoDatabase.h"
#include "database/KelvoSchema.h"
#include "settings/ProgramDatabaseLinks.h"
#include "settings/USettings.h"
#include "support/PostgresTestDatabase.h"
#include "support/TestEnvironment.h"
#include "tools/KelvoEnvironment.h"

#include <QCoreApplication>
#include <QMap>
#include <QRegularExpression>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace settingsfixture {

inline const QString kSqlite = QStringLiteral("sqlite");
inline const QString kPostgres = QStringLiteral("postgresql");

using pgtest::pgConfigured;
using pgtest::pgConnectionString;
using pgtest::pgVariable;

// Adds the engine column and one row per engine.
inline void engineRows() {
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << kSqlite;
    QTest::newRow("postgresql") << kPostgres;
}

// The engine of the current data row ("postgresql/..." or "postgresql").
inline QString currentEngine() {
    return QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char('/'), 0, 0);
}

// A PostgreSQL database of its own for one test program, dropped at the end.
class PgDatabase {
public:
    PgDatabase() = default;
    ~PgDatabase() {
        if (m_name.isEmpty())
            return;
        try {
            TADOConnection admin;
            admin.SetConnectionString(pgConnectionString(pgVariable("DATABASE")));
            admin.Open();
            admin.Execute(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_name));
            for (const QString& role : std::as_const(m_roles))
                admin.Execute(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
        } catch (const EDatabaseError& error) {
            qWarning("cannot drop the test database: %s", qPrintable(error.Message()));
        }
    }

    // Creates the database when the server is configured.
    void create(const QString& program) {
        if (!pgConfigured())
            return;
        m_name = QStringLiteral("ravlek_%1_%2").arg(program).arg(QCoreApplication::applicationPid());
        pgtest::createScratchDatabase(m_name);
    }

    QString name() const { return m_name; }

    // Skips (or, with RAVLEK_REQUIRE_PG=1, fails) when the server is not configured;
    // otherwise empties the database. Returns false when the test is to end.
    bool prepare() {
        if (!pgtest::requirePostgres())
            return false;
        TADOConnection connection;
        connection.SetConnectionString(pgConnectionString(m_name));
        connection.Open();
        connection.Execute(QStringLiteral("SET client_min_messages TO WARNING"));
        connection.Execute(QStringLiteral("DROP SCHEMA public CASCADE"));
        connection.Execute(QStringLiteral("CREATE SCHEMA public"));
        return true;
    }

    // A login role of this run without any right beyond connecting.
    QString makeRole(const QString& password) {
        const QString role = QStringLiteral("%1_reader").arg(m_name);
        TADOConnection admin;
        admin.SetConnectionString(pgConnectionString(m_name));
        admin.Open();
        admin.Execute(QStringLiteral("SET client_min_messages TO WARNING"));
        admin.Execute(QStringLiteral("DROP ROLE IF EXISTS ") + role);
        admin.Execute(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password));
        m_roles.append(role);
        return role;
    }

private:
    QString m_name;
    QStringList m_roles;
};

// One isolated installation whose only data-link file names the test's database, with the
// environment set up as at the program's start and the program's database layer on it.
class Installation {
public:
    Installation() { InitApplicationEnvironment({QStringLiteral("ravlek")}); }

    TestEnvironment env;
    TXrayDatabase database{Environment(), ProgramDatabaseLinks()};

    QString dataLinksPath() const { return Environment().DataLinksPath; }

    // Writes a data-link file into the data-link folder and returns its path.
    QString writeDataLink(const QString& name, const QString& connectionString) const {
        QDir().mkpath(dataLinksPath());
        const QString file = dataLinksPath() + name;
        if (!WriteDataLinkFile(file, connectionString))
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }

    QString sqliteConnectionString(const QString& fileName = QStringLiteral("db/ravlek.sqlite")) const {
        return QStringLiteral("Provider=SQLite;Data Source=") + env.path(fileName);
    }

    QString connectionString(const QString& engine, const PgDatabase& pg) const {
        return engine == kPostgres ? pgConnectionString(pg.name()) : sqliteConnectionString();
    }

    // A connection of another workstation to the same database.
    std::unique_ptr<TADOConnection> connect(const QString& engine, const PgDatabase& pg) const {
        auto connection = std::make_unique<TADOConnection>();
        connection->SetConnectionString(connectionString(engine, pg));
        connection->Open();
        return connection;
    }
};

// The value of the first column of the first row of `sql`.
inline QVariant scalar(TADOConnection& connection, const QString& sql, const QVariantMap& values = {}) {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL()->Add(sql);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        query.Parameters().ParamByName(it.key()).Value = it.value();
    query.Open();
    return query.RecordCount() > 0 ? query.Fields(0).Value() : QVariant();
}

inline void createTables(TADOConnection& connection) {
    connection.BeginTrans();
    for (const QStringList& lines :
         {CreateXrayWorkstationsSql(connection.Engine()), CreateXrayDeviceLockListSql(connection.Engine())}) {
        TADOQuery create;
        create.SetConnection(&connection);
        create.SetSQL(lines);
        create.ExecSQL();
    }
    connection.CommitTrans();
}

inline void insertStation(TADOConnection& connection, const QString& computer, const QString& station,
                          const QString& id, const QString& stationId) {
    connection.Execute(
        QStringLiteral("INSERT INTO XRAYWORKSTATIONS (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                       "STATIONID) VALUES (:computer, :station, :id, :stationid)"),
        {{QStringLiteral("computer"), computer},
         {QStringLiteral("station"), station},
         {QStringLiteral("id"), id},
         {QStringLiteral("stationid"), stationId}});
}

inline void insertLock(TADOConnection& connection, const QString& computer, const QString& station,
                       const QString& id, int number) {
    connection.Execute(
        QStringLiteral("INSERT INTO XRAYDEVICELOCKLIST (COMPUTERNAME, XRAYSTATION, XRAYSTATIONID, "
                       "LOCKNUMBER) VALUES (:computer, :station, :id, :number)"),
        {{QStringLiteral("computer"), computer},
         {QStringLiteral("station"), station},
         {QStringLiteral("id"), id},
         {QStringLiteral("number"), number}});
}

// A table as the catalogue describes it: "NAME TYPE NOT NULL|NULL" per column in order,
// the primary key's name and its columns in order.
struct TableShape {
    QStringList columns;
    QString primaryKey;
    QStringList keyColumns;
};

inline TableShape tableShape(TADOConnection& connection, const QString& table) {
    TableShape shape;
    TADOQuery catalog;
    catalog.SetConnection(&connection);
    if (connection.Engine() == DataLinkEngine::SQLite) {
        catalog.SQL()->Add(QStringLiteral("PRAGMA table_info(%1)").arg(table));
        catalog.Open();
        QMap<int, QString> keyByPosition;
        for (; !catalog.Eof(); catalog.Next()) {
            const QString name = catalog.FieldByName(QStringLiteral("NAME")).AsString();
            shape.columns.append(QStringLiteral("%1 %2 %3")
                                     .arg(name, catalog.FieldByName(QStringLiteral("TYPE")).AsString(),
                                          catalog.FieldByName(QStringLiteral("NOTNULL")).AsInteger()
                                              ? QStringLiteral("NOT NULL")
                                              : QStringLiteral("NULL")));
            if (const int position = catalog.FieldByName(QStringLiteral("PK")).AsInteger())
                keyByPosition.insert(position, name);
        }
        shape.keyColumns = keyByPosition.values();
        const QString createText =
            scalar(connection,
                   QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = :t"),
                   {{QStringLiteral("t"), table}})
                .toString();
        static const QRegularExpression constraint(
            QStringLiteral("CONSTRAINT\\s+(\\w+)\\s+PRIMARY KEY\\s*\\("));
        shape.primaryKey = constraint.match(createText).captured(1);
        return shape;
    }
    catalog.SQL()->Add(QStringLiteral("SELECT column_name, data_type, character_maximum_length, is_nullable "
                                      "FROM information_schema.columns WHERE table_schema = current_schema() "
                                      "AND table_name = lower(:t) ORDER BY ordinal_position"));
    catalog.Parameters().ParamByName(QStringLiteral("t")).Value = table;
    catalog.Open();
    for (; !catalog.Eof(); catalog.Next()) {
        const QString dataType = catalog.FieldByName(QStringLiteral("DATA_TYPE")).AsString();
        const QString type =
            dataType == QStringLiteral("character varying")
                ? QStringLiteral("VARCHAR(%1)")
                      .arg(catalog.FieldByName(QStringLiteral("CHARACTER_MAXIMUM_LENGTH")).AsInteger())
            : dataType == QStringLiteral("integer") ? QStringLiteral("INT")
                                                    : dataType;
        shape.columns.append(
            QStringLiteral("%1 %2 %3")
                .arg(catalog.FieldByName(QStringLiteral("COLUMN_NAME")).AsString().toUpper(), type,
                     catalog.FieldByName(QStringLiteral("IS_NULLABLE")).AsString() == QStringLiteral("NO")
                         ? QStringLiteral("NOT NULL")
                         : QStringLiteral("NULL")));
    }
    catalog.SQL()->SetText(QStringLiteral(
        "SELECT c.constraint_name, k.column_name FROM information_schema.table_constraints c "
        "JOIN information_schema.key_column_usage k ON k.constraint_name = c.constraint_name "
        "AND k.table_schema = c.table_schema WHERE c.table_schema = current_schema() "
        "AND c.table_name = lower(:t) AND c.constraint_type = 'PRIMARY KEY' ORDER BY k.ordinal_position"));
    catalog.Parameters().ParamByName(QStringLiteral("t")).Value = table;
    catalog.Open();
    for (; !catalog.Eof(); catalog.Next()) {
        shape.primaryKey = catalog.FieldByName(QStringLiteral("CONSTRAINT_NAME")).AsString().toUpper();
        shape.keyColumns.append(catalog.FieldByName(QStringLiteral("COLUMN_NAME")).AsString().toUpper());
    }
    return shape;
}

// The values of one grid column, top to bottom.
inline QStringList gridColumn(const TfrmSettings& window, const QString& title) {
    const QAbstractItemModel* model = window.RegisterGrid->model();
    for (int column = 0; column < model->columnCount(); ++column) {
        if (model->headerData(column, Qt::Horizontal).toString() != title)
            continue;
        QStringList values;
        for (int row = 0; row < model->rowCount(); ++row)
            values.append(model->data(model->index(row, column)).toString());
        return values;
    }
    return {};
}

} // namespace settingsfixture
