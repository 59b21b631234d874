#include "DragImage.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tarvine::glass::x11 {

namespace {

constexpr const char* kTitle = "tarvine-glass drag image";
// Without a compositor nothing shows through: translucent pixels are blended onto this grey.
constexpr std::uint32_t kBackdrop = 0xe0;
// Each PutImage stays well under the core protocol's request size.
constexpr std::size_t kStripBytes = 64 * 1024;

const xcb_visualtype_t* rootVisual(const xcb_screen_t* screen) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
         xcb_depth_next(&depths))
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals))
            if (visuals.data->visual_id == screen->root_visual) return visuals.data;
    return nullptr;
}

std::uint32_t blend(std::uint32_t argb) {
    std::uint32_t a = argb >> 24;
    auto channel = [&](int shift) {
        std::uint32_t c = (argb >> shift) & 0xff;
        return ((c * a + kBackdrop * (255 - a)) / 255) << shift;
    };
    return channel(16) | channel(8) | channel(0);
}

} // namespace

DragImage::DragImage(Display& display, const std::vector<std::uint32_t>& argb, std::uint16_t width,
                     std::uint16_t height, std::int16_t x, std::int16_t y)
    : display_(display), window_(xcb_generate_id(display.xcb())), width_(width), height_(height) {
    xcb_connection_t* c = display.xcb();
    std::uint32_t values[] = {display.screen()->white_pixel, 1};
    xcb_create_window(
        c, XCB_COPY_FROM_PARENT, window_, display.root(), static_cast<std::int16_t>(x - width / 2),
        static_cast<std::int16_t>(y - height / 2), width, height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    std::string title = kTitle;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(title.size()), title.data());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, display.atom(Atom::NetWmName),
                        display.atom(Atom::Utf8String), 8, static_cast<std::uint32_t>(title.size()),
                        title.data());
    xcb_atom_t type = display.atom(Atom::NetWmWindowTypeDnd);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, display.atom(Atom::NetWmWindowType),
                        XCB_ATOM_ATOM, 32, 1, &type);
    paint(argb);
    xcb_map_window(c, window_);
}

DragImage::~DragImage() {
    xcb_destroy_window(display_.xcb(), window_);
}

void DragImage::paint(const std::vector<std::uint32_t>& argb) {
    const xcb_screen_t* screen = display_.screen();
    const xcb_visualtype_t* visual = rootVisual(screen);
    // Pixels are written as 0x00RRGGBB: only the common true-colour layout gets the picture.
    if (argb.size() != std::size_t{width_} * height_ || screen->root_depth != 24 || !visual ||
        visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff ||
        xcb_get_setup(display_.xcb())->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return;
    xcb_connection_t* c = display_.xcb();
    xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, pixmap, window_, width_, height_);
    xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    std::size_t rowBytes = std::size_t{width_} * 4;
    std::size_t rowsPerStrip = std::max<std::size_t>(1, kStripBytes / rowBytes);
    std::vector<std::uint32_t> strip;
    for (std::size_t top = 0; top < height_; top += rowsPerStrip) {
        std::size_t rows = std::min<std::size_t>(rowsPerStrip, height_ - top);
        auto first = argb.begin() + static_cast<std::ptrdiff_t>(top * width_);
        strip.assign(first, first + static_cast<std::ptrdiff_t>(rows * width_));
        std::transform(strip.begin(), strip.end(), strip.begin(), blend);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, width_,
                      static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(top), 0,
                      screen->root_depth, static_cast<std::uint32_t>(rows * rowBytes),
                      reinterpret_cast<const std::uint8_t*>(strip.data()));
    }
    xcb_free_gc(c, gc);
    // The server repaints the window from its background; the pixmap lives on in it.
    xcb_change_window_attributes(c, window_, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_free_pixmap(c, pixmap);
}

void DragImage::centreOn(std::int16_t x, std::int16_t y) {
    std::uint32_t position[] = {static_cast<std::uint32_t>(x - width_ / 2),
                                static_cast<std::uint32_t>(y - height_ / 2)};
    xcb_configure_window(display_.xcb(), window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                         position);
}

void DragImage::hide() {
    xcb_unmap_window(display_.xcb(), window_);
}

} // namespace tarvine::glass::x11
