#pragma once

#include "platform/Port.h"

#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

namespace platform {

// A part of a shown window that a thread other than the GUI thread keeps painting, together
// with the window's title, so that the window stays alive while the GUI thread is busy with
// something slow. Qt itself paints a window only on the GUI thread; an overlay is drawn by the
// window system for the thread that owns it. docs/progress.md explains the design.
//
// Used by one thread at a time: created and destroyed on the GUI thread, painted by the thread
// it is handed to, and destroyed only after that thread has stopped using it.
class WindowOverlay {
public:
    virtual ~WindowOverlay() = default;

    // The size of the area in the window system's pixels.
    virtual QSize pixelSize() const = 0;
    // Shows `image` in the area (scaled when its size differs from pixelSize()).
    virtual void showImage(const QImage& image) = 0;
    // Sets the title of the whole window.
    virtual void setTitle(const QString& title) = 0;
};

class WindowOverlays {
public:
    virtual ~WindowOverlays() = default;

    // An overlay over `area` (in the coordinates of the top-level window `window`, which is
    // shown), or nullptr where the window system lets no other thread draw into a window.
    virtual std::unique_ptr<WindowOverlay> create(QWidget* window, const QRect& area) = 0;

    static std::unique_ptr<WindowOverlays> makeDefault();
};

inline WindowOverlays& windowOverlays() {
    return Port<WindowOverlays>::instance();
}

} // namespace platform
