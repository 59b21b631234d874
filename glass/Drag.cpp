#include "Drag.h"

#include "Image.h"
#include "x11/Windows.h"

#include <atomic>

namespace tarvine::glass {

namespace {

// Written by beginDrag and the drag source on the main thread, read from any thread.
std::atomic<std::int32_t> dragState{0};

} // namespace

std::int32_t getDragState() {
    return dragState.load(std::memory_order_relaxed);
}

bool beginDrag(x11::Display& display, xcb_window_t /*window*/, const std::string& path,
               double /*size*/) {
    auto image = Image::load(path);
    if (!image || image->width() <= 0 || getDragState() == 1) return false;
    auto pointer = x11::pointer(display);
    if (!pointer) return false;
    if (!pointer->leftButtonDown) {
        dragState = 3;
        return true;
    }
    return false;
}

void forgetDragSource() {}

} // namespace tarvine::glass
