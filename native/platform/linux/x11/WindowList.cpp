#include "WindowList.h"

#include "Connection.h"
#include "platform/linux/xdg/DesktopEntries.h"

#include <algorithm>
#include <xcb/randr.h>

namespace tarvine::adapters::x11 {

namespace {

// Window levels as the other platform numbers them, so that callers can compare.
constexpr std::int64_t normalLayer = 0;
constexpr std::int64_t floatingLayer = 3;
constexpr std::int64_t dockLayer = 20;
constexpr std::int64_t statusLayer = 25;

bool viewable(Connection& x, xcb_window_t window) {
    auto cookie = xcb_get_window_attributes(x.xcb(), window);
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(x.xcb(), cookie, nullptr));
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool hasAtom(const std::optional<std::vector<std::uint32_t>>& list, xcb_atom_t atom) {
    return list && std::find(list->begin(), list->end(), atom) != list->end();
}

// Window positions are given from the top left of the primary monitor, which need not be the
// root window's corner (a monitor may lie to its left or above it).
std::pair<double, double> primaryOrigin(Connection& x) {
    auto cookie = xcb_randr_get_monitors(x.xcb(), x.root(), 1);
    Reply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(x.xcb(), cookie, nullptr));
    if (!reply) return {0, 0};
    auto monitors = xcb_randr_get_monitors_monitors_iterator(reply.get());
    std::optional<std::pair<double, double>> first;
    for (; monitors.rem > 0; xcb_randr_monitor_info_next(&monitors)) {
        const xcb_randr_monitor_info_t& monitor = *monitors.data;
        if (monitor.primary) return {monitor.x, monitor.y};
        if (!first) first = std::pair<double, double>(monitor.x, monitor.y);
    }
    return first.value_or(std::pair<double, double>(0, 0));
}

std::optional<Rect> frameBounds(Connection& x, xcb_window_t window,
                                std::pair<double, double> origin0, double scale) {
    auto geometryCookie = xcb_get_geometry(x.xcb(), window);
    auto translateCookie = xcb_translate_coordinates(x.xcb(), window, x.root(), 0, 0);
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(x.xcb(), geometryCookie, nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(x.xcb(), translateCookie, nullptr));
    if (!geometry || !origin) return std::nullopt;
    // The decoration belongs to the window as the user sees it.
    std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
    if (auto extents = x.cardinals(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL);
        extents && extents->size() == 4) {
        left = (*extents)[0];
        right = (*extents)[1];
        top = (*extents)[2];
        bottom = (*extents)[3];
    }
    return Rect{(origin->dst_x - static_cast<double>(left) - origin0.first) / scale,
                (origin->dst_y - static_cast<double>(top) - origin0.second) / scale,
                (geometry->width + static_cast<double>(left + right)) / scale,
                (geometry->height + static_cast<double>(top + bottom)) / scale};
}

std::optional<std::string> applicationName(Connection& x, xcb_window_t window) {
    auto wmClass = x.wmClass(window);
    if (!wmClass) return std::nullopt;
    if (auto app = xdg::applicationForWindowClass(wmClass->first, wmClass->second))
        return app->name;
    if (!wmClass->second.empty()) return wmClass->second;
    return wmClass->first;
}

} // namespace

std::vector<platform::WindowRecord> WindowList::onScreenWindows() {
    std::vector<platform::WindowRecord> records;
    auto x = Connection::open();
    if (!x) return records;
    auto stacking = x->cardinals(x->root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW);
    if (!stacking) return records;
    const double scale = x->scale();
    const auto origin = primaryOrigin(*x);
    const xcb_atom_t desktopType = x->atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    const xcb_atom_t dockType = x->atom("_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_atom_t notificationType = x->atom("_NET_WM_WINDOW_TYPE_NOTIFICATION");
    const xcb_atom_t aboveState = x->atom("_NET_WM_STATE_ABOVE");
    const xcb_atom_t hiddenState = x->atom("_NET_WM_STATE_HIDDEN");

    // The stacking list runs bottom to top; the answer runs front to back.
    for (auto it = stacking->rbegin(); it != stacking->rend(); ++it) {
        xcb_window_t window = *it;
        if (!viewable(*x, window)) continue;
        auto types = x->cardinals(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM);
        if (hasAtom(types, desktopType)) continue;
        auto states = x->cardinals(window, "_NET_WM_STATE", XCB_ATOM_ATOM);
        if (hasAtom(states, hiddenState)) continue;

        platform::WindowRecord record;
        record.layer = hasAtom(types, dockType)           ? dockLayer
                       : hasAtom(types, notificationType) ? statusLayer
                       : hasAtom(states, aboveState)      ? floatingLayer
                                                          : normalLayer;
        record.ownerName = applicationName(*x, window);
        record.bounds = frameBounds(*x, window, origin, scale);
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace tarvine::adapters::x11
