#include "platform/LogindPowerEvents.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace platform {

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace

std::unique_ptr<PowerEvents> PowerEvents::makeDefault() {
    return std::make_unique<LogindPowerEvents>();
}

LogindPowerEvents::LogindPowerEvents(QObject* parent)
    : LogindPowerEvents(QDBusConnection::systemBus(), parent) {}

LogindPowerEvents::LogindPowerEvents(const QDBusConnection& bus, QObject* parent)
    : PowerEvents(parent)
    , m_bus(bus) {
    if (!m_bus.isConnected())
        return;
    m_listening = m_bus.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                                SLOT(prepareForSleep(bool)));
    if (m_listening)
        takeDelayLock();
}

void LogindPowerEvents::prepareForSleep(bool start) {
    if (start) {
        Q_EMIT suspending();
        m_delayLock = QDBusUnixFileDescriptor(); // closing our copy lets the suspend go on
    } else {
        Q_EMIT resumed();
        takeDelayLock();
    }
}

void LogindPowerEvents::takeDelayLock() {
    // Asked without waiting: a logind that refuses (or is missing) costs nothing but the lock.
    QDBusMessage request =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    request << QStringLiteral("sleep") << QStringLiteral("Ravlek")
            << QStringLiteral("Closing the database connections") << QStringLiteral("delay");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
        if (reply.isValid())
            m_delayLock = reply.value();
        call->deleteLater();
    });
}

} // namespace platform
