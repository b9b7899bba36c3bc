#pragma once

#include "platform/WindowOverlay.h"

namespace platform {

// Overlays on X11, also under XWayland: the painting thread talks to the X server through a
// connection of its own, draws into a child window of the Qt window that covers the area, and
// sets the Qt window's title properties. Qt's own connection and windows are never touched
// from that thread. Every other platform (native Wayland, offscreen) gets no overlay.
class XcbWindowOverlays : public WindowOverlays {
public:
    std::unique_ptr<WindowOverlay> create(QWidget* window, const QRect& area) override;
};

} // namespace platform
