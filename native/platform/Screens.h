#pragma once

#include "base/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvine::platform {

// One screen as the documented screen objects describe it. Frames are in points, in screen
// coordinates: origin at the bottom left of the primary screen, y growing upwards.
struct Screen {
    Rect frame;
    // The frame without the areas that panels and docks reserve.
    Rect visibleFrame;
    // Device pixels per point.
    double backingScaleFactor = 1.0;
    // The display number ("NSScreenNumber"); absent when the screen has none.
    std::optional<std::uint32_t> number;
};

class Screens {
public:
    virtual ~Screens() = default;

    // The screens, the primary one first; empty without a display.
    virtual std::vector<Screen> screens() = 0;
    // The screen holding the window the user works in; absent without a display.
    virtual std::optional<Screen> mainScreen() = 0;
    // The pointer, in screen coordinates.
    virtual Point mouseLocation() = 0;
};

} // namespace tarvine::platform
