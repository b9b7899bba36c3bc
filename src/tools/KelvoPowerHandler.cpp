#include "tools/KelvoPowerHandler.h"

#include "database/KelvoDatabase.h"
#include "platform/Logging.h"
#include "platform/PowerEvents.h"
#include "tools/KelvoMessages.h"

#include <QPointer>
#include <QThread>

#include <cstdlib>
#include <exception>

namespace {

QList<QPointer<TADOConnection>>& registeredConnections() {
    static QList<QPointer<TADOConnection>> connections;
    return connections;
}

QString ownerName(const TADOConnection& connection) {
    return connection.parent() ? connection.parent()->objectName() : QString();
}

void reconnect(TADOConnection& connection) {
    connection.Open();
    connection.BeginTrans();
}

} // namespace

void RegisterPowerConnection(TADOConnection* connection) {
    if (connection && !registeredConnections().contains(connection))
        registeredConnections().append(connection);
}

void UnregisterPowerConnection(TADOConnection* connection) {
    registeredConnections().removeAll(connection);
}

QList<TADOConnection*> PowerConnections() {
    QList<TADOConnection*> connections;
    for (const QPointer<TADOConnection>& connection : registeredConnections()) {
        if (connection)
            connections.append(connection.data());
    }
    return connections;
}

void HandleSuspend(const QList<TADOConnection*>& connections) {
    for (TADOConnection* connection : connections) {
        if (connection->Connected()) {
            connection->Close();
            connection->SetTag(kSuspendedConnectionTag);
        }
    }
}

void HandleResume(const QList<TADOConnection*>& connections, const TResumeOptions& options) {
    QThread::msleep(static_cast<unsigned long>(options.wait.count()));
    // A deliberate reconnect: servers that did not answer before the suspend are tried again.
    TADOConnection::ForgetUnreachableServers();

    bool success = true;
    int count = 0;
    QString report;
    for (TADOConnection* connection : connections) {
        if (connection->Tag() != kSuspendedConnectionTag)
            continue;
        try {
            connection->Close();
            reconnect(*connection);
            ++count;
        } catch (const std::exception& failure) {
            const QString question =
                QStringLiteral(
                    "Databasanslutningen har avbrutits på ett felaktigt sätt!\rOch det automatiska "
                    "återanslutningsförsöket resulterade i följande fel:") +
                QStringLiteral("\r\r") + FailureText(failure) + QStringLiteral("\r\r") +
                QStringLiteral("Försöka ansluta igen?");
            if (!ConfirmMessage(question))
                continue;
            try {
                reconnect(*connection);
            } catch (const std::exception&) {
                success = false;
                // The connection string with its login masked: the report is shown to the
                // user, and the stored login is kept encrypted precisely to stay unseen.
                report += QStringLiteral("Det gick inte att återansluta") + QLatin1Char(' ') +
                          ownerName(*connection) + QLatin1Char('.') + connection->objectName() +
                          QLatin1Char('!') + QLatin1Char('\r') + QStringLiteral("ConnectionString = ") +
                          platform::MaskSecrets(connection->ConnectionString()) + QStringLiteral("\r\r");
            }
        }
    }

    if (success) {
        InformationMessage(
            QStringLiteral("Programmet har återanslutit") + QLatin1Char(' ') + QString::number(count) +
            QLatin1Char(' ') +
            QStringLiteral("anslutningar till databasen. Kontrollera att ingen data förlorats."));
        return;
    }
    FailureMessage(QStringLiteral("Det gick inte att ansluta till databasen igen. Programmet avslutas.") +
                   QStringLiteral("\r\r") + report);
    if (options.terminate)
        options.terminate(1);
    else
        std::exit(1); // at once: the program cannot go on without its database
}

TKelvoPowerHandler::TKelvoPowerHandler(platform::PowerEvents& events, TResumeOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options)) {
    setObjectName(QStringLiteral("frmKelvoTools"));
    connect(&events, &platform::PowerEvents::suspending, this, [] { HandleSuspend(PowerConnections()); });
    connect(&events, &platform::PowerEvents::resumed, this,
            [this] { HandleResume(PowerConnections(), m_options); });
}

TKelvoPowerHandler::TKelvoPowerHandler(QObject* parent)
    : TKelvoPowerHandler(platform::powerEvents(), {}, parent) {}
