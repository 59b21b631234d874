#pragma once

#include "base/Geometry.h"

#include <cstdint>
#include <optional>

namespace tarvine::platform {

// The windows of other applications, as the accessibility interface reaches them. Rectangles
// are in accessibility coordinates: points, origin at the top left of the primary screen, y
// growing downwards; a window's frame includes its decoration.
class WindowManager {
public:
    using Window = std::uint32_t;

    virtual ~WindowManager() = default;

    // The focused window of the frontmost application; none when there is no such window.
    virtual std::optional<Window> focusedWindow() = 0;
    // Zeros for what cannot be read.
    virtual Rect frame(Window window) = 0;
    // Each asks the window to change and waits a moment for it; a window that refuses is
    // left as it is.
    virtual void setSize(Window window, Size size) = 0;
    virtual void setPosition(Window window, Point origin) = 0;
};

} // namespace tarvine::platform
