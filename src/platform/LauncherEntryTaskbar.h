#pragma once

#include "platform/TaskbarProgress.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

namespace platform {

// Taskbar progress through the launcher-entry interface that KDE Plasma, the GNOME docks
// (Dash to Dock, Ubuntu Dock) and Plank read: the signal com.canonical.Unity.LauncherEntry.Update
// on the session bus, for the program's desktop entry "application://<desktop file id>".
class LauncherEntryTaskbar : public TaskbarProgress {
public:
    // Uses the session bus and the program's desktop file id (desktopFileId()).
    LauncherEntryTaskbar();
    LauncherEntryTaskbar(const QDBusConnection& bus, const QString& desktopFileId);

    bool available() override;
    void setProgressState(WindowHandle window, TaskbarState state) override;
    void setProgressValue(WindowHandle window, quint64 completed, quint64 total) override;

    // The desktop file id of this program: QGuiApplication::desktopFileName() with ".desktop"
    // when the program set one, else the executable's name + ".desktop".
    static QString desktopFileId();
    QString applicationUri() const { return m_applicationUri; }

    static inline const QString kInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

private:
    void update(const QVariantMap& properties);

    QDBusConnection m_bus;
    QString m_applicationUri;
    QString m_objectPath;
};

} // namespace platform
