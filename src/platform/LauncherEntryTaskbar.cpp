#include "platform/LauncherEntryTaskbar.h"

#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>

namespace platform {

namespace {
const QString kProgress = QStringLiteral("progress");
const QString kProgressVisible = QStringLiteral("progress-visible");
const QString kDesktopSuffix = QStringLiteral(".desktop");
} // namespace

std::unique_ptr<TaskbarProgress> TaskbarProgress::makeDefault() {
    return std::make_unique<LauncherEntryTaskbar>();
}

LauncherEntryTaskbar::LauncherEntryTaskbar()
    : LauncherEntryTaskbar(QDBusConnection::sessionBus(), desktopFileId()) {}

LauncherEntryTaskbar::LauncherEntryTaskbar(const QDBusConnection& bus, const QString& desktopFileId)
    : m_bus(bus)
    , m_applicationUri(QStringLiteral("application://") + desktopFileId)
    // Any object path will do; one per program keeps the docks' bookkeeping apart.
    , m_objectPath(QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(qHash(m_applicationUri))) {}

QString LauncherEntryTaskbar::desktopFileId() {
    QString name = QGuiApplication::desktopFileName();
    if (name.isEmpty())
        name = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).fileName();
    return name.endsWith(kDesktopSuffix) ? name : name + kDesktopSuffix;
}

bool LauncherEntryTaskbar::available() {
    return m_bus.isConnected();
}

// The launcher entry belongs to the program, not to one window, so `window` does not matter.
void LauncherEntryTaskbar::setProgressState(WindowHandle, TaskbarState state) {
    if (state == TaskbarState::NoProgress)
        update({{kProgressVisible, false}, {kProgress, 0.0}});
    else
        update({{kProgressVisible, true}});
}

void LauncherEntryTaskbar::setProgressValue(WindowHandle, quint64 completed, quint64 total) {
    const double fraction = total == 0 ? 0.0 : qBound(0.0, double(completed) / double(total), 1.0);
    update({{kProgressVisible, true}, {kProgress, fraction}});
}

void LauncherEntryTaskbar::update(const QVariantMap& properties) {
    if (!m_bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(m_objectPath, kInterface, QStringLiteral("Update"));
    signal << m_applicationUri << properties;
    m_bus.send(signal);
}

} // namespace platform
