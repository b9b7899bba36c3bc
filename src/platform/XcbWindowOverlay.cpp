#include "platform/XcbWindowOverlay.h"

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace platform {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* value) {
    return Reply<T>(value, &std::free);
}

constexpr quint32 kRedMask = 0xff0000;
constexpr quint32 kGreenMask = 0x00ff00;
constexpr quint32 kBlueMask = 0x0000ff;
constexpr quint32 kPutImageHeaderBytes = 24;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const auto answer = reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

const xcb_visualtype_t* findVisual(const xcb_setup_t* setup, xcb_visualid_t id) {
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens))
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem;
             xcb_depth_next(&depths))
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                 xcb_visualtype_next(&visuals))
                if (visuals.data->visual_id == id)
                    return visuals.data;
    return nullptr;
}

const xcb_format_t* findFormat(const xcb_setup_t* setup, quint8 depth) {
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
        if (formats.data->depth == depth)
            return formats.data;
    return nullptr;
}

// Whether a QImage in Format_RGB32 can go to the window as it is: a true-colour visual with
// 8 bits per colour in 32-bit pixels, in this computer's byte order.
bool takesRgb32(const xcb_setup_t* setup, const xcb_visualtype_t* visual, const xcb_format_t* format) {
    const quint8 hostOrder =
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST;
    return visual && format && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
           visual->red_mask == kRedMask && visual->green_mask == kGreenMask &&
           visual->blue_mask == kBlueMask && format->bits_per_pixel == 32 && format->scanline_pad == 32 &&
           setup->image_byte_order == hostOrder;
}

class XcbWindowOverlay : public WindowOverlay {
public:
    XcbWindowOverlay(xcb_connection_t* connection, xcb_window_t parent)
        : m_connection(connection)
        , m_parent(parent) {}

    ~XcbWindowOverlay() override {
        if (m_window != XCB_WINDOW_NONE) {
            xcb_free_gc(m_connection, m_gc);
            xcb_destroy_window(m_connection, m_window);
            xcb_flush(m_connection);
        }
        xcb_disconnect(m_connection);
    }
    XcbWindowOverlay(const XcbWindowOverlay&) = delete;
    XcbWindowOverlay& operator=(const XcbWindowOverlay&) = delete;

    bool open(const QRect& pixelArea) {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const auto geometry =
            reply(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_parent), nullptr));
        const auto attributes = reply(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, m_parent), nullptr));
        if (!geometry || !attributes ||
            !takesRgb32(setup, findVisual(setup, attributes->visual), findFormat(setup, geometry->depth)))
            return false;

        const xcb_window_t window = xcb_generate_id(m_connection);
        const quint32 eventMask = XCB_EVENT_MASK_EXPOSURE;
        const xcb_void_cookie_t created = xcb_create_window_checked(
            m_connection, geometry->depth, window, m_parent, qint16(pixelArea.x()), qint16(pixelArea.y()),
            quint16(pixelArea.width()), quint16(pixelArea.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            attributes->visual, XCB_CW_EVENT_MASK, &eventMask);
        if (const auto error = reply(xcb_request_check(m_connection, created)))
            return false;
        m_window = window;
        m_depth = geometry->depth;
        m_size = pixelArea.size();
        m_gc = xcb_generate_id(m_connection);
        xcb_create_gc(m_connection, m_gc, m_window, 0, nullptr);
        xcb_map_window(m_connection, m_window);
        m_netWmName = internAtom(m_connection, "_NET_WM_NAME");
        m_utf8String = internAtom(m_connection, "UTF8_STRING");
        m_maxRequestBytes = xcb_get_maximum_request_length(m_connection) * 4;
        xcb_flush(m_connection);
        return true;
    }

    QSize pixelSize() const override { return m_size; }

    void showImage(const QImage& image) override {
        if (m_size.isEmpty())
            return;
        const QImage frame =
            (image.size() == m_size ? image : image.scaled(m_size)).convertToFormat(QImage::Format_RGB32);
        const quint32 stride = quint32(frame.bytesPerLine());
        const int rowsPerRequest = qMax(1, int((m_maxRequestBytes - kPutImageHeaderBytes) / stride));
        for (int row = 0; row < frame.height(); row += rowsPerRequest) {
            const int rows = qMin(rowsPerRequest, frame.height() - row);
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, quint16(frame.width()),
                          quint16(rows), 0, qint16(row), 0, m_depth, quint32(rows) * stride,
                          frame.constScanLine(row));
        }
        finishRequests();
    }

    void setTitle(const QString& title) override {
        const QByteArray utf8 = title.toUtf8();
        for (const xcb_atom_t property : {m_netWmName, xcb_atom_t(XCB_ATOM_WM_NAME)}) {
            if (property != XCB_ATOM_NONE)
                xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_parent, property, m_utf8String, 8,
                                    quint32(utf8.size()), utf8.constData());
        }
        finishRequests();
    }

private:
    // Sends what is queued and drops the events that came in: exposures are answered by the
    // next frame, and errors (the Qt window already gone, say) need no answer.
    void finishRequests() {
        xcb_flush(m_connection);
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    xcb_connection_t* const m_connection;
    const xcb_window_t m_parent;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_gcontext_t m_gc = 0;
    quint8 m_depth = 0;
    QSize m_size;
    xcb_atom_t m_netWmName = XCB_ATOM_NONE;
    xcb_atom_t m_utf8String = XCB_ATOM_NONE;
    quint32 m_maxRequestBytes = 0;
};

} // namespace

std::unique_ptr<WindowOverlays> WindowOverlays::makeDefault() {
    return std::make_unique<XcbWindowOverlays>();
}

std::unique_ptr<WindowOverlay> XcbWindowOverlays::create(QWidget* window, const QRect& area) {
    if (!window || area.isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb"))
        return nullptr;
    // Qt's xcb platform reaches the same server through DISPLAY.
    const QByteArray display = qgetenv("DISPLAY");
    xcb_connection_t* connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    auto overlay = std::make_unique<XcbWindowOverlay>(connection, xcb_window_t(window->winId()));
    const qreal ratio = window->devicePixelRatioF();
    const QRect pixelArea(qRound(area.x() * ratio), qRound(area.y() * ratio), qRound(area.width() * ratio),
                          qRound(area.height() * ratio));
    if (xcb_connection_has_error(connection) || !overlay->open(pixelArea))
        return nullptr;
    return overlay;
}

} // namespace platform
