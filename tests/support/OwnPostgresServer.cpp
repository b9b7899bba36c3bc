#include "OwnPostgresServer.h"

#include "database/KelvoDatabase.h"

#include <QCollator>
#include <QDir>
#include <QProcess>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pgtest {

namespace {

const QString kRole = QStringLiteral("ravlek");

// The bin folder of the newest PostgreSQL installed, empty when there is none.
QString postgresBinFolder() {
    QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(), numeric);
    for (auto version = versions.crbegin(); version != versions.crend(); ++version) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(*version);
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable())
            return bin;
    }
    return {};
}

// A port on the loopback address that nobody listens on right now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

OwnPostgresServer::OwnPostgresServer()
    : m_bin(postgresBinFolder())
    , m_port(freePort()) {
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("no PostgreSQL installed under /usr/lib/postgresql");
        return;
    }
    if (!m_folder.isValid() || m_port == 0) {
        m_error = QStringLiteral("no temporary folder or no free port");
        return;
    }
    // The server's user must own its folder.
    if (::geteuid() == 0) {
        QProcess chown;
        chown.start(QStringLiteral("chown"),
                    {QStringLiteral("-R"), QStringLiteral("nobody:nogroup"), m_folder.path()});
        if (!chown.waitForFinished(30000) || chown.exitCode() != 0) {
            m_error = QStringLiteral("chown failed: ") + QString::fromUtf8(chown.readAllStandardError());
            return;
        }
    }
    m_error = runTool(QStringLiteral("initdb"),
                      {QStringLiteral("-D"), m_folder.filePath(QStringLiteral("data")), QStringLiteral("-U"),
                       kRole, QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                       QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                      120000);
    if (m_error.isEmpty())
        m_error = start();
}

OwnPostgresServer::~OwnPostgresServer() {
    if (m_running)
        stop();
}

QString OwnPostgresServer::connectionString(const QString& database) const {
    return QStringLiteral("Provider=PostgreSQL;Password=unused;Persist Security Info=True;User ID=%1;"
                          "Initial Catalog=%2;Data Source=127.0.0.1:%3")
        .arg(kRole, database)
        .arg(m_port);
}

QString OwnPostgresServer::createDatabase(const QString& name) const {
    try {
        TADOConnection admin;
        admin.SetConnectionString(connectionString(QStringLiteral("postgres")));
        admin.Open();
        admin.Execute(QStringLiteral("CREATE DATABASE ") + name);
        return {};
    } catch (const EDatabaseError& error) {
        return error.Message();
    }
}

QString OwnPostgresServer::stop() {
    m_running = false;
    return runTool(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), m_folder.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                    QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
}

QString OwnPostgresServer::start() {
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(m_port)
                                .arg(m_folder.path());
    const QString failure =
        runTool(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), m_folder.filePath(QStringLiteral("data")), QStringLiteral("-o"),
                 options, QStringLiteral("-l"), m_folder.filePath(QStringLiteral("server.log")),
                 QStringLiteral("-w"), QStringLiteral("start")});
    m_running = failure.isEmpty();
    return failure;
}

QString OwnPostgresServer::runTool(const QString& tool, const QStringList& arguments, int timeoutMs) const {
    QString program = m_bin + QLatin1Char('/') + tool;
    QStringList args = arguments;
    if (::geteuid() == 0) {
        args = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                           QStringLiteral("--clear-groups"), program} +
               args;
        program = QStringLiteral("setpriv");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_folder.path());
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return tool + QStringLiteral(" did not finish");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return tool + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAll());
    return {};
}

} // namespace pgtest
