#include "Windows.h"

#include <climits>
#include <string>
#include <unistd.h>

namespace tarvine::glass::x11 {

namespace {

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

} // namespace

std::optional<xcb_window_t> windowOfThisProcess(Display& display, std::uint64_t handle) {
    // X window ids have 29 bits; anything wider is not a window at all.
    if (handle == 0 || handle > 0x1fffffffu) return std::nullopt;
    auto window = static_cast<xcb_window_t>(handle);
    xcb_connection_t* c = display.xcb();
    auto pidCookie =
        xcb_get_property(c, 0, window, display.atom(Atom::NetWmPid), XCB_ATOM_CARDINAL, 0, 1);
    auto machineCookie = xcb_get_property(c, 0, window, display.atom(Atom::WmClientMachine),
                                          XCB_ATOM_STRING, 0, 256);
    auto pid = display.reply<xcb_get_property_reply_t>(pidCookie.sequence);
    auto machine = display.reply<xcb_get_property_reply_t>(machineCookie.sequence);
    if (!pid || pid->format != 32 || xcb_get_property_value_length(pid.get()) != 4)
        return std::nullopt;
    if (*static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())) !=
        static_cast<std::uint32_t>(getpid()))
        return std::nullopt;
    // A process number means nothing on another machine.
    if (machine && machine->format == 8 && xcb_get_property_value_length(machine.get()) > 0) {
        std::string name(static_cast<const char*>(xcb_get_property_value(machine.get())),
                         static_cast<std::size_t>(xcb_get_property_value_length(machine.get())));
        if (name != hostName()) return std::nullopt;
    }
    return window;
}

std::optional<Size> windowSize(Display& display, xcb_window_t window) {
    auto cookie = xcb_get_geometry(display.xcb(), window);
    auto geometry = display.reply<xcb_get_geometry_reply_t>(cookie.sequence);
    if (!geometry) return std::nullopt;
    return Size{geometry->width, geometry->height};
}

std::optional<Pointer> pointer(Display& display) {
    auto cookie = xcb_query_pointer(display.xcb(), display.root());
    auto answer = display.reply<xcb_query_pointer_reply_t>(cookie.sequence);
    if (!answer) return std::nullopt;
    return Pointer{answer->root_x, answer->root_y, (answer->mask & XCB_BUTTON_MASK_1) != 0};
}

} // namespace tarvine::glass::x11
