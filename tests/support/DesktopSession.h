#pragma once

// A desktop of the test's own, to see windows as a user would: an X server (Xvfb) on a free
// display, a private D-Bus session bus, and an observer that finds top-level windows by their
// title, reads titles and grabs their pixels through a connection of its own.

#include <QImage>
#include <QProcess>
#include <QString>

#include <memory>

struct xcb_connection_t;

// An Xvfb server on a display number it chooses itself; stopped when the object ends.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts the server; empty when it runs, else why not.
    QString start();
    // ":<number>", for DISPLAY.
    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

// A D-Bus session bus of the test's own (dbus-daemon --session); stopped when the object ends.
class SessionBus {
public:
    SessionBus() = default;
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // Starts the bus; empty when it runs, else why not.
    QString start();
    // For DBUS_SESSION_BUS_ADDRESS.
    QString address() const { return m_address; }

private:
    QProcess m_process;
    QString m_address;
};

// Looks at the windows of an X display from outside, as a screenshot tool would.
class XWindowObserver {
public:
    explicit XWindowObserver(const QString& display);
    ~XWindowObserver();
    XWindowObserver(const XWindowObserver&) = delete;
    XWindowObserver& operator=(const XWindowObserver&) = delete;

    bool connected() const;
    // The first mapped top-level window whose title begins with `prefix`; 0 when none.
    quint32 findWindow(const QString& titlePrefix);
    QString title(quint32 window);
    bool isViewable(quint32 window);
    // The window's pixels as they are on the screen; a null image when it cannot be had.
    QImage grab(quint32 window);

private:
    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_netWmName = 0;
};
