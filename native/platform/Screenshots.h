#pragma once

#include "base/Geometry.h"
#include "base/Image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvine::platform {

// What can be captured, as the shareable-content query reports it. Frames are in points,
// origin at the top left of the primary screen, y growing downwards.
struct ShareableApplication {
    std::int32_t processID = 0;
    std::string applicationName;
    std::string bundleIdentifier;
};

struct Display {
    // Matches the number of the screen it shows (Screen::number).
    std::uint32_t displayID = 0;
    Rect frame;
};

struct ShareableWindow {
    std::uint32_t windowID = 0;
    Rect frame;
    std::optional<std::string> title;
    std::optional<ShareableApplication> owningApplication;
    // A window that shows the desktop picture.
    bool desktopPicture = false;
};

struct ShareableContent {
    std::vector<Display> displays;
    std::vector<ShareableWindow> windows;
    std::vector<ShareableApplication> applications;
};

// What one screenshot shows: a display without the windows of some applications, or one
// window alone, wherever it is.
struct ContentFilter {
    std::optional<Display> display;
    std::vector<ShareableApplication> excludingApplications;
    std::vector<ShareableWindow> exceptingWindows;
    std::optional<ShareableWindow> desktopIndependentWindow;
};

class Screenshots {
public:
    virtual ~Screenshots() = default;

    // The displays, the on-screen windows (desktop windows included) and the running
    // applications. Throws PlatformError when the display server fails to answer.
    virtual ShareableContent shareableContent() = 0;
    // A single image of what the filter shows, at exactly width x height pixels, without
    // the cursor. Throws PlatformError.
    virtual Image screenshot(const ContentFilter& filter, int width, int height) = 0;
};

} // namespace tarvine::platform
