#pragma once

#include "Desktop.h"
#include "platform/WindowManager.h"

namespace tarvine::adapters::x11 {

// Windows moved through the window manager (EWMH): the active window is the focused one,
// frames include the decoration (_NET_FRAME_EXTENTS), and sizes and positions are asked for
// with _NET_MOVERESIZE_WINDOW after a maximized window has been restored.
class WindowManager : public platform::WindowManager {
public:
    std::optional<Window> focusedWindow() override;
    Rect frame(Window window) override;
    void setSize(Window window, Size size) override;
    void setPosition(Window window, Point origin) override;

private:
    // Asks for the outer frame to become `wanted` (only the fields `flags` names) and waits
    // until it has, or a moment has passed.
    void moveResize(Connection& x, xcb_window_t window, const PixelRect& wanted,
                    std::uint32_t flags, Deadline deadline);
    void restore(Connection& x, xcb_window_t window, Deadline deadline);

    Session session_;
};

} // namespace tarvine::adapters::x11
