#pragma once

#include "../RoundedRegion.h"
#include "Display.h"

#include <vector>

namespace tarvine::glass::x11 {

// Whether the compositor blurs behind windows: it lists _KDE_NET_WM_BLUR_BEHIND_REGION in the
// root window's _NET_SUPPORTED.
bool blurSupported(Display& display);

// Asks the compositor to blur behind these boxes of the window; no boxes removes the request
// (an empty property would mean "blur the whole window").
void setBlurRegion(Display& display, xcb_window_t window, const std::vector<Box>& boxes);

} // namespace tarvine::glass::x11
