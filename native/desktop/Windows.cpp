#include "Windows.h"

#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/WindowManager.h"

#include <cmath>

namespace tarvine::Windows {

namespace {

bool contains(const Rect& rect, Point point) {
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y &&
           point.y < rect.y + rect.height;
}

const platform::Screen& screenOf(const Rect& window, double primaryHeight,
                                 const std::vector<platform::Screen>& screens,
                                 const std::optional<platform::Screen>& mainScreen) {
    const Point centre{window.x + window.width / 2, primaryHeight - (window.y + window.height / 2)};
    for (const auto& screen : screens)
        if (contains(screen.frame, centre)) return screen;
    return mainScreen ? *mainScreen : screens.front();
}

} // namespace

Rect target(const std::string& mode, const Rect& window,
            const std::vector<platform::Screen>& screens,
            const std::optional<platform::Screen>& mainScreen) {
    const double primaryHeight = screens.front().frame.height;
    const Rect& visible = screenOf(window, primaryHeight, screens, mainScreen).visibleFrame;
    const Rect area{visible.x, primaryHeight - (visible.y + visible.height), visible.width,
                    visible.height};
    const double half = std::round(area.width * 0.5);
    if (mode == "left") return {area.x, area.y, half, area.height};
    if (mode == "right") return {area.x + half, area.y, area.width - half, area.height};
    return area;
}

void snap(const std::string& mode) {
    auto& platform = platform::integration();
    if (!platform.permissions().accessibilityTrusted()) throw SnapError(SnapError::accessibility);
    auto& windows = platform.windowManager();
    const auto window = windows.focusedWindow();
    if (!window) throw SnapError(SnapError::noWindow);
    const auto screens = platform.screens().screens();
    if (screens.empty()) throw SnapError(SnapError::noWindow);
    const Rect chosen =
        target(mode, windows.frame(*window), screens, platform.screens().mainScreen());
    windows.setSize(*window, {chosen.width, chosen.height});
    windows.setPosition(*window, {chosen.x, chosen.y});
    windows.setSize(*window, {chosen.width, chosen.height});
}

} // namespace tarvine::Windows
