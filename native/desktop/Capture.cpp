#include "Capture.h"

#include "base/HelperError.h"
#include "base/MainLoop.h"
#include "platform/Platform.h"
#include "platform/Screenshots.h"

#include <algorithm>
#include <unistd.h>

namespace tarvine::Capture {

namespace {

constexpr double scaleWithoutScreen = 2.0;
constexpr std::int64_t fingerprintLongSide = 320;
constexpr int thumbnailWidth = 32;
constexpr int thumbnailHeight = 18;

const platform::Display* chooseDisplay(const std::vector<platform::Display>& displays,
                                       std::optional<std::uint32_t> number) {
    if (number)
        for (const auto& display : displays)
            if (display.displayID == *number) return &display;
    return displays.empty() ? nullptr : &displays.front();
}

std::vector<platform::ShareableApplication>
excludedApplications(const std::vector<platform::ShareableApplication>& applications) {
    std::vector<platform::ShareableApplication> excluded;
    for (const auto& application : applications)
        if (excludedPIDs().contains(application.processID)) excluded.push_back(application);
    return excluded;
}

} // namespace

std::set<std::int32_t>& excludedPIDs() {
    static std::set<std::int32_t> pids{static_cast<std::int32_t>(::getpid())};
    return pids;
}

bool mouseInRect(Point point, const Rect& rect) {
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y > rect.y &&
           point.y <= rect.y + rect.height;
}

std::optional<platform::Screen> screenUnderMouse(platform::Screens& screens) {
    const Point mouse = screens.mouseLocation();
    for (const auto& screen : screens.screens())
        if (mouseInRect(mouse, screen.frame)) return screen;
    return screens.mainScreen();
}

PixelSize outputSize(double scale, double widthPoints, double heightPoints,
                     std::int64_t maxLongSide) {
    auto width = static_cast<std::int64_t>(scale * widthPoints);
    auto height = static_cast<std::int64_t>(scale * heightPoints);
    const std::int64_t longest = std::max(width, height);
    if (maxLongSide < longest) {
        const double ratio = double(maxLongSide) / double(longest);
        width = static_cast<std::int64_t>(ratio * double(width));
        height = static_cast<std::int64_t>(ratio * double(height));
    }
    return {static_cast<int>(width), static_cast<int>(height)};
}

Image takeScreenshot(std::int64_t maxLongSide) {
    auto& platform = platform::integration();
    const platform::ShareableContent content = platform.screenshots().shareableContent();
    const auto screen = screenUnderMouse(platform.screens());
    const auto number = screen ? screen->number : std::nullopt;
    const platform::Display* display = chooseDisplay(content.displays, number);
    if (!display)
        throw HelperError(
            "No display available to capture. Grant Screen Recording permission in System "
            "Settings.");
    platform::ContentFilter filter;
    filter.display = *display;
    filter.excludingApplications = excludedApplications(content.applications);
    const double scale = screen ? screen->backingScaleFactor : scaleWithoutScreen;
    const PixelSize size =
        outputSize(scale, display->frame.width, display->frame.height, maxLongSide);
    return platform.screenshots().screenshot(filter, size.width, size.height);
}

std::vector<std::uint8_t> thumbnail(const Image& screenshot) {
    const Image small = scaled(screenshot, thumbnailWidth, thumbnailHeight);
    std::vector<std::uint8_t> pixels(std::size_t(thumbnailWidth) * thumbnailHeight, 0);
    if (small.width != thumbnailWidth || small.height != thumbnailHeight) return {};
    for (int y = 0; y < thumbnailHeight; ++y)
        for (int x = 0; x < thumbnailWidth; ++x)
            pixels[std::size_t(y) * thumbnailWidth + x] = grey(small.at(x, y));
    return pixels;
}

asio::awaitable<Image> captureImage(std::int64_t maxLongSide) {
    auto work = MainLoop::offload([maxLongSide] { return takeScreenshot(maxLongSide); });
    co_return co_await std::move(work);
}

asio::awaitable<std::vector<std::uint8_t>> fingerprint() {
    auto work = MainLoop::offload([] { return thumbnail(takeScreenshot(fingerprintLongSide)); });
    co_return co_await std::move(work);
}

} // namespace tarvine::Capture
