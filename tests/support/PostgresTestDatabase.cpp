#include "PostgresTestDatabase.h"

#include "database/KelvoDatabase.h"

#include <QByteArray>
#include <QTest>

namespace pgtest {

namespace {

// Runs `statements` as the administrator, without the server's notices on "IF EXISTS".
void administer(const QStringList& statements) {
    TADOConnection admin;
    admin.SetConnectionString(pgConnectionString(pgVariable("DATABASE")));
    admin.Open();
    admin.Execute(QStringLiteral("SET client_min_messages TO WARNING"));
    for (const QString& sql : statements)
        admin.Execute(sql);
}

} // namespace

QString pgVariable(const char* suffix) {
    return qEnvironmentVariable((QByteArray("RAVLEK_TEST_PG_") + suffix).constData());
}

bool pgConfigured() {
    return !pgVariable("HOST").isEmpty() && !pgVariable("DATABASE").isEmpty();
}

QString pgConnectionString(const QString& database, const QString& user, const QString& password) {
    return QStringLiteral("Provider=PostgreSQL;Password=%1;Persist Security Info=True;User ID=%2;"
                          "Initial Catalog=%3;Data Source=%4:%5")
        .arg(password, user, database, pgVariable("HOST"), pgVariable("PORT"));
}

void createScratchDatabase(const QString& name) {
    administer(
        {QStringLiteral("DROP DATABASE IF EXISTS ") + name, QStringLiteral("CREATE DATABASE ") + name});
}

void dropScratchDatabase(const QString& name) {
    administer({QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name)});
}

bool requirePostgres() {
    if (pgConfigured())
        return true;
    if (qEnvironmentVariable("RAVLEK_REQUIRE_PG") == QStringLiteral("1"))
        QTest::qFail("RAVLEK_REQUIRE_PG=1 but RAVLEK_TEST_PG_* are not set", __FILE__, __LINE__);
    else
        QTest::qSkip("PostgreSQL is not configured (RAVLEK_TEST_PG_*)", __FILE__, __LINE__);
    return false;
}

} // namespace pgtest
