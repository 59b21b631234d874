#pragma once

#include "base/Image.h"
#include "platform/Screens.h"

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace tarvine::Capture {

// Processes whose windows screenshots leave out. Always holds this process's own id; serve
// start-up adds the host's choice before any request is read, and nothing removes one.
std::set<std::int32_t>& excludedPIDs();

// A screenshot of the display under the mouse, without the windows of the excluded
// processes, its longer side at most maxLongSide pixels. Runs on the shared pool.
asio::awaitable<Image> captureImage(std::int64_t maxLongSide);

// A 32 x 18 grey thumbnail of that display, top row first: 576 bytes.
asio::awaitable<std::vector<std::uint8_t>> fingerprint();

// The blocking work of the two operations above, for callers already off the main loop.
Image takeScreenshot(std::int64_t maxLongSide);
std::vector<std::uint8_t> thumbnail(const Image& screenshot);

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

// A display of `points` at `scale` in pixels, reduced to at most maxLongSide on its longer
// side, never enlarged.
PixelSize outputSize(double scale, double widthPoints, double heightPoints,
                     std::int64_t maxLongSide);

// The screen under the mouse pointer, else the main screen (which may be absent).
std::optional<platform::Screen> screenUnderMouse(platform::Screens& screens);

// Whether the pointer at `point` is inside `rect`: left and upper edges in, right and lower
// edges out (y grows upwards).
bool mouseInRect(Point point, const Rect& rect);

} // namespace tarvine::Capture
