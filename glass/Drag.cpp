#include "Drag.h"

#include "Image.h"
#include "x11/DragSource.h"
#include "x11/Windows.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace tarvine::glass {

namespace {

// Written by beginDrag and the drag source on the main thread, read from any thread.
std::atomic<std::int32_t> dragState{0};
// The latest drag; it keeps answering the target's requests for the file after the drop.
std::unique_ptr<x11::DragSource> dragSource;

// A drag image larger than any screen would only exhaust memory.
constexpr double kMaxImagePoints = 4096;
constexpr long kMaxImagePixels = 8192;

std::uint16_t pixels(double points, double scale) {
    return static_cast<std::uint16_t>(std::clamp(std::lround(points * scale), 1L, kMaxImagePixels));
}

// file:// URL of the path, made absolute against the working directory as file URLs are.
std::string fileUrl(const std::string& path) {
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd) absolute = std::string(cwd) + "/" + absolute;
        std::free(cwd);
    }
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char ch : absolute) {
        if (std::isalnum(ch) || ch == '/' || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            url += static_cast<char>(ch);
        } else {
            url += '%';
            url += hex[ch >> 4];
            url += hex[ch & 15];
        }
    }
    return url;
}

} // namespace

std::int32_t getDragState() {
    return dragState.load(std::memory_order_relaxed);
}

bool beginDrag(x11::Display& display, xcb_window_t /*window*/, const std::string& path,
               double size) {
    auto image = Image::load(path);
    if (!image || image->width() <= 0 || getDragState() == 1) return false;
    auto pointer = x11::pointer(display);
    if (!pointer) return false;
    if (!pointer->leftButtonDown) {
        dragState = 3;
        return true;
    }
    // The picture is `size` wide, keeps its aspect ratio, and is at most twice as tall.
    double width = std::min(size, kMaxImagePoints);
    double height = std::min(width * image->height() / image->width(), 2 * width);
    std::uint16_t pixelsWide = pixels(width, display.scale());
    std::uint16_t pixelsHigh = pixels(height, display.scale());
    auto picture =
        std::make_unique<x11::DragImage>(display, image->argb(pixelsWide, pixelsHigh), pixelsWide,
                                         pixelsHigh, pointer->rootX, pointer->rootY);
    dragSource.reset();
    dragState = 1;
    dragSource = x11::DragSource::begin(display, fileUrl(path), std::move(picture),
                                        [](bool accepted) { dragState = accepted ? 2 : 3; });
    if (!dragSource) dragState = 0;
    return dragSource != nullptr;
}

void forgetDragSource() {
    dragSource.reset();
}

} // namespace tarvine::glass
