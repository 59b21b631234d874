#pragma once

#include "base/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvine::platform {

// One entry of the window server's list of on-screen windows. Members the server could not
// tell are absent.
struct WindowRecord {
    std::optional<std::string> ownerName;
    // 0 for a normal application window; higher for panels, docks and overlays.
    std::optional<std::int64_t> layer;
    // In global display points: origin at the top left of the main display, y downwards.
    std::optional<Rect> bounds;
};

class WindowList {
public:
    virtual ~WindowList() = default;

    // The on-screen windows, front to back, leaving out desktop elements.
    virtual std::vector<WindowRecord> onScreenWindows() = 0;
};

} // namespace tarvine::platform
