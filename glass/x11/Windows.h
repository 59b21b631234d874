#pragma once

#include "Display.h"

#include <cstdint>
#include <optional>

namespace tarvine::glass::x11 {

// The host's window with this X11 window id, when it is a window of this process (its
// _NET_WM_PID is ours, on this machine); any other id matches no window.
std::optional<xcb_window_t> windowOfThisProcess(Display& display, std::uint64_t handle);

struct Size {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};
std::optional<Size> windowSize(Display& display, xcb_window_t window);

struct Pointer {
    std::int16_t rootX = 0;
    std::int16_t rootY = 0;
    bool leftButtonDown = false;
};
std::optional<Pointer> pointer(Display& display);

} // namespace tarvine::glass::x11
