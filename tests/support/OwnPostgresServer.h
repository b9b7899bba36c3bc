#pragma once

// A PostgreSQL server of one test's own: a cluster made with initdb in a temporary folder,
// listening on a port of its own, which the test stops and starts again at will without
// taking the shared server of the other tests with it. As root (CI), the server runs as
// the unprivileged user "nobody", since PostgreSQL refuses to run as root.

#include <QString>
#include <QTemporaryDir>

namespace pgtest {

class OwnPostgresServer {
public:
    OwnPostgresServer();
    ~OwnPostgresServer();
    OwnPostgresServer(const OwnPostgresServer&) = delete;
    OwnPostgresServer& operator=(const OwnPostgresServer&) = delete;

    // Empty when the cluster was made and the server runs, else what went wrong.
    QString error() const { return m_error; }
    int port() const { return m_port; }
    // A connection string for `database` on this server (role "ravlek", trusted locally).
    QString connectionString(const QString& database) const;
    // Creates a database; empty when done, else the server's text.
    QString createDatabase(const QString& name) const;

    // Stops the server the way an administrator's restart does ("fast": the sessions are
    // ended); empty when done, else what went wrong.
    QString stop();
    // Starts it again on the same port and waits until it accepts connections.
    QString start();

private:
    // Runs a PostgreSQL program of the installed version, as "nobody" when run as root.
    QString runTool(const QString& tool, const QStringList& arguments, int timeoutMs = 60000) const;

    QTemporaryDir m_folder;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    QString m_error;
};

} // namespace pgtest
