#pragma once

#include "desktop/Capture.h"

#include <asio/awaitable.hpp>
#include <string>

namespace tarvine::Wallpaper {

// The desktop picture of the screen under the mouse as a JPEG data URL, its longer side at
// most maxLongSide pixels and never beyond the picture's native size. Runs on the shared
// pool.
asio::awaitable<std::string> dataURL(double maxLongSide);

// The blocking work of dataURL, for callers already off the main loop.
std::string makeDataURL(double maxLongSide);

// The picture's size in pixels for a window of `points` on a screen of `scale`.
Capture::PixelSize outputSize(double scale, double widthPoints, double heightPoints,
                              double maxLongSide);

} // namespace tarvine::Wallpaper
