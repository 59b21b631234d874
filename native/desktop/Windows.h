#pragma once

#include "base/Geometry.h"
#include "platform/Screens.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace tarvine::Windows {

// Why a window could not be snapped. what() is the code the "window.snap" reply carries.
class SnapError : public std::runtime_error {
public:
    enum Case { accessibility, noWindow };

    explicit SnapError(Case which)
        : std::runtime_error(which == accessibility ? "accessibility" : "no-window"),
          which_(which) {}
    Case which() const { return which_; }

private:
    Case which_;
};

// Moves the focused window of the frontmost application to the left half ("left"), the right
// half ("right") or the whole (any other mode) of the usable area of its screen. Blocks
// while the window manager answers; throws SnapError.
void snap(const std::string& mode);

// The rectangle, in accessibility coordinates, that `mode` gives a window whose frame is
// `window` (accessibility coordinates) among `screens` (primary first, not empty).
Rect target(const std::string& mode, const Rect& window,
            const std::vector<platform::Screen>& screens,
            const std::optional<platform::Screen>& mainScreen);

} // namespace tarvine::Windows
