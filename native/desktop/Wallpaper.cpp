#include "Wallpaper.h"

#include "base/Base64.h"
#include "base/HelperError.h"
#include "base/Jpeg.h"
#include "base/MainLoop.h"
#include "platform/Platform.h"
#include "platform/Screenshots.h"

#include <algorithm>

namespace tarvine::Wallpaper {

namespace {

constexpr double scaleWithoutScreen = 2.0;
constexpr double compressionFactor = 0.85;

const platform::Display* displayNumbered(const std::vector<platform::Display>& displays,
                                         std::optional<std::uint32_t> number) {
    if (!number) return nullptr;
    for (const auto& display : displays)
        if (display.displayID == *number) return &display;
    return nullptr;
}

std::vector<platform::ShareableWindow>
wallpaperWindows(const std::vector<platform::ShareableWindow>& windows) {
    std::vector<platform::ShareableWindow> found;
    for (const auto& window : windows)
        if (window.desktopPicture) found.push_back(window);
    return found;
}

const platform::ShareableWindow&
chooseWindow(const std::vector<platform::ShareableWindow>& candidates,
             const platform::Display* display) {
    if (display)
        for (const auto& window : candidates)
            if (window.frame == display->frame) return window;
    return candidates.front();
}

} // namespace

Capture::PixelSize outputSize(double scale, double widthPoints, double heightPoints,
                              double maxLongSide) {
    const double factor = std::min(maxLongSide / std::max(widthPoints, heightPoints), scale);
    return {static_cast<int>(factor * widthPoints), static_cast<int>(factor * heightPoints)};
}

std::string makeDataURL(double maxLongSide) {
    auto& platform = platform::integration();
    const platform::ShareableContent content = platform.screenshots().shareableContent();
    const auto screen = Capture::screenUnderMouse(platform.screens());
    const auto number = screen ? screen->number : std::nullopt;
    const platform::Display* display = displayNumbered(content.displays, number);
    const auto candidates = wallpaperWindows(content.windows);
    if (candidates.empty()) throw HelperError("No wallpaper window.");
    const platform::ShareableWindow& window = chooseWindow(candidates, display);

    const double scale = screen ? screen->backingScaleFactor : scaleWithoutScreen;
    const auto size = outputSize(scale, window.frame.width, window.frame.height, maxLongSide);
    platform::ContentFilter filter;
    filter.desktopIndependentWindow = window;
    const Image image = platform.screenshots().screenshot(filter, size.width, size.height);
    const auto jpeg = encodeJpeg(image, compressionFactor);
    if (jpeg.empty()) throw HelperError("Could not encode the wallpaper.");
    return "data:image/jpeg;base64," + base64(jpeg);
}

asio::awaitable<std::string> dataURL(double maxLongSide) {
    auto work = MainLoop::offload([maxLongSide] { return makeDataURL(maxLongSide); });
    co_return co_await std::move(work);
}

} // namespace tarvine::Wallpaper
