#pragma once

#include "x11/Display.h"

#include <vector>

namespace tarvine::glass {

// Brings the glass panels of `window` up to date: panel i shows rectangle i (x, y, width,
// height, corner radius, resize flag) of `rectangles`; extra panels go from the end. False
// when the desktop has no blur-behind (the glass class is absent) or the window is gone.
bool apply(x11::Display& display, xcb_window_t window, const std::vector<double>& rectangles,
           const std::vector<double>& tint);

// Drops every window's panel list, when the host's environment goes away.
void forgetPanels(x11::Display& display);

} // namespace tarvine::glass
