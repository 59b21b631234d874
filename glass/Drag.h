#pragma once

#include "x11/Display.h"

#include <cstdint>
#include <string>

namespace tarvine::glass {

// How the latest drag went: 0 none yet or not started, 1 in progress, 2 dropped and accepted,
// 3 ended with no operation (or not started because the left button was up).
std::int32_t getDragState();

// Starts dragging the image file at `path` out of `window`, its picture `size` points wide
// under the pointer. True when a drag began, or when the left button was already up.
bool beginDrag(x11::Display& display, xcb_window_t window, const std::string& path, double size);

// Drops the latest drag source, when the host's environment goes away.
void forgetDragSource();

} // namespace tarvine::glass
