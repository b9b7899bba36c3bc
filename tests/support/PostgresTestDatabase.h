#pragma once

// The PostgreSQL server of the test runs, named by RAVLEK_TEST_PG_HOST/PORT/USER/PASSWORD/
// DATABASE, and the scratch databases that tests and benchmarks create on it.

#include <QString>

namespace pgtest {

// The value of RAVLEK_TEST_PG_<suffix>, empty when unset.
QString pgVariable(const char* suffix);

// Whether a server and its administration database are named.
bool pgConfigured();

// A connection string for `database` on the configured server.
QString pgConnectionString(const QString& database, const QString& user = pgVariable("USER"),
                           const QString& password = pgVariable("PASSWORD"));

// Creates `name` afresh (dropping a leftover of an earlier run), through the administration
// database. Throws EDatabaseError when the server refuses.
void createScratchDatabase(const QString& name);

// Drops `name`, closing the sessions that still use it. Throws EDatabaseError on failure.
void dropScratchDatabase(const QString& name);

// For a test that needs the server: true when it is configured; otherwise skips the test, or
// fails it when RAVLEK_REQUIRE_PG=1, and returns false so that the test returns at once.
bool requirePostgres();

} // namespace pgtest
