#include "DesktopSession.h"

#include <QDeadlineTimer>

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace {

constexpr int kStartTimeoutMs = 20000;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* value) {
    return Reply<T>(value, &std::free);
}

void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The first line a starting server writes, or empty after the time-out.
QByteArray firstLine(QProcess& process) {
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!process.canReadLine() && !deadline.hasExpired() && process.state() != QProcess::NotRunning)
        process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

} // namespace

XvfbServer::~XvfbServer() {
    stop(m_process);
}

QString XvfbServer::start() {
    // Xvfb picks a free display and writes its number to the descriptor given.
    m_process.setProgram(QStringLiteral("Xvfb"));
    m_process.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                            QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp")});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(kStartTimeoutMs))
        return QStringLiteral("Xvfb does not start: ") + m_process.errorString();
    const QByteArray number = firstLine(m_process);
    if (number.isEmpty())
        return QStringLiteral("Xvfb gave no display: ") +
               QString::fromLocal8Bit(m_process.readAllStandardError());
    m_display = QLatin1Char(':') + QString::fromLatin1(number);
    return {};
}

SessionBus::~SessionBus() {
    stop(m_process);
}

QString SessionBus::start() {
    m_process.setProgram(QStringLiteral("dbus-daemon"));
    m_process.setArguments(
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    m_process.start();
    if (!m_process.waitForStarted(kStartTimeoutMs))
        return QStringLiteral("dbus-daemon does not start: ") + m_process.errorString();
    const QByteArray address = firstLine(m_process);
    if (address.isEmpty())
        return QStringLiteral("dbus-daemon gave no address: ") +
               QString::fromLocal8Bit(m_process.readAllStandardError());
    m_address = QString::fromUtf8(address);
    return {};
}

XWindowObserver::XWindowObserver(const QString& display) {
    m_connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(m_connection))
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const char* name = "_NET_WM_NAME";
    const auto atom = reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, quint16(std::strlen(name)), name), nullptr));
    m_netWmName = atom ? atom->atom : 0;
}

XWindowObserver::~XWindowObserver() {
    xcb_disconnect(m_connection);
}

bool XWindowObserver::connected() const {
    return xcb_connection_has_error(m_connection) == 0;
}

quint32 XWindowObserver::findWindow(const QString& titlePrefix) {
    if (!connected())
        return 0;
    // Without a window manager the programs' windows are the root's children.
    const auto tree =
        reply(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return 0;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
        if (isViewable(children[i]) && title(children[i]).startsWith(titlePrefix))
            return children[i];
    return 0;
}

QString XWindowObserver::title(quint32 window) {
    const auto property = reply(xcb_get_property_reply(
        m_connection,
        xcb_get_property(m_connection, 0, window, m_netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
    if (!property)
        return {};
    return QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(property.get())),
                             xcb_get_property_value_length(property.get()));
}

bool XWindowObserver::isViewable(quint32 window) {
    const auto attributes = reply(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

QImage XWindowObserver::grab(quint32 window) {
    const auto geometry =
        reply(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    if (!geometry || geometry->depth != 24)
        return {};
    const auto image =
        reply(xcb_get_image_reply(m_connection,
                                  xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                                geometry->width, geometry->height, ~0u),
                                  nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < geometry->width * geometry->height * 4)
        return {};
    return QImage(xcb_get_image_data(image.get()), geometry->width, geometry->height, geometry->width * 4,
                  QImage::Format_RGB32)
        .copy();
}
