#include "BlurRegion.h"

#include <algorithm>

namespace tarvine::glass::x11 {

bool blurSupported(Display& display) {
    xcb_atom_t blur = display.atom(Atom::BlurBehindRegion);
    if (blur == XCB_ATOM_NONE) return false;
    auto cookie = xcb_get_property(display.xcb(), 0, display.root(),
                                   display.atom(Atom::NetSupported), XCB_ATOM_ATOM, 0, 1u << 16);
    auto supported = display.reply<xcb_get_property_reply_t>(cookie.sequence);
    if (!supported || supported->format != 32) return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported.get()));
    int count = xcb_get_property_value_length(supported.get()) / 4;
    return std::find(atoms, atoms + count, blur) != atoms + count;
}

void setBlurRegion(Display& display, xcb_window_t window, const std::vector<Box>& boxes) {
    xcb_atom_t property = display.atom(Atom::BlurBehindRegion);
    if (boxes.empty()) {
        xcb_delete_property(display.xcb(), window, property);
        return;
    }
    std::vector<std::uint32_t> values;
    values.reserve(boxes.size() * 4);
    for (const Box& box : boxes) {
        values.push_back(static_cast<std::uint32_t>(box.x));
        values.push_back(static_cast<std::uint32_t>(box.y));
        values.push_back(box.width);
        values.push_back(box.height);
    }
    xcb_change_property(display.xcb(), XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_CARDINAL,
                        32, static_cast<std::uint32_t>(values.size()), values.data());
}

} // namespace tarvine::glass::x11
