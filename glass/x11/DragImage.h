#pragma once

#include "Display.h"

#include <cstdint>
#include <vector>

namespace tarvine::glass::x11 {

// The picture that follows the pointer during a drag: a small override-redirect window whose
// background is the image.
class DragImage {
public:
    // `argb` holds width × height pixels; the window is centred on (x, y) of the root window.
    DragImage(Display& display, const std::vector<std::uint32_t>& argb, std::uint16_t width,
              std::uint16_t height, std::int16_t x, std::int16_t y);
    ~DragImage();
    DragImage(const DragImage&) = delete;
    DragImage& operator=(const DragImage&) = delete;

    xcb_window_t window() const { return window_; }
    void centreOn(std::int16_t x, std::int16_t y);
    void hide();

private:
    void paint(const std::vector<std::uint32_t>& argb);

    Display& display_;
    xcb_window_t window_;
    std::uint16_t width_;
    std::uint16_t height_;
};

} // namespace tarvine::glass::x11
