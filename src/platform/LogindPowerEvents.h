#pragma once

#include "platform/PowerEvents.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>

namespace platform {

// Power notices from systemd-logind: its signal PrepareForSleep(true) before a suspend or
// hibernation and PrepareForSleep(false) after the wake-up. While listening it holds a
// "delay" inhibitor lock, so that logind gives the program a moment to close its database
// connections before the computer sleeps; the lock is handed back once `suspending()` has
// been handled and taken again after the wake-up.
//
// Without a system bus (a container, a minimal session) it simply never emits anything.
class LogindPowerEvents : public PowerEvents {
    Q_OBJECT
public:
    // Listens on the system bus.
    explicit LogindPowerEvents(QObject* parent = nullptr);
    // Listens on `bus`, which must be connected to a bus where logind would be.
    explicit LogindPowerEvents(const QDBusConnection& bus, QObject* parent = nullptr);

    bool isListening() const { return m_listening; }

private Q_SLOTS:
    void prepareForSleep(bool start);

private:
    void takeDelayLock();

    QDBusConnection m_bus;
    QDBusUnixFileDescriptor m_delayLock;
    bool m_listening = false;
};

} // namespace platform
