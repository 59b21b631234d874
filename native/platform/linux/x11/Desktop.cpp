#include "Desktop.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>
#include <xcb/randr.h>

namespace tarvine::adapters::x11 {

namespace {

const std::vector<std::string> atomNames = {
    "_NET_WORKAREA",
    "_NET_CURRENT_DESKTOP",
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_PID",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_STATE_MAXIMIZED_VERT",
    "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_FRAME_EXTENTS",
    "_NET_WM_STRUT",
    "_NET_WM_STRUT_PARTIAL",
    "_NET_MOVERESIZE_WINDOW",
    "_XROOTPMAP_ID",
    "RESOURCE_MANAGER",
};

DesktopAtoms assign(const std::vector<xcb_atom_t>& a) {
    return DesktopAtoms{a[0],  a[1],  a[2],  a[3],  a[4],  a[5],  a[6],  a[7],  a[8],  a[9], a[10],
                        a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20]};
}

double scaleFrom(const std::optional<std::string>& resources) {
    if (!resources) return 1.0;
    std::istringstream lines(*resources);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Xft.dpi:", 0) != 0) continue;
        const double dpi = std::strtod(line.c_str() + 8, nullptr);
        if (dpi > 0) return dpi / 96.0;
    }
    return 1.0;
}

bool extensionPresent(Connection& x, const std::string& name, Deadline deadline) {
    auto reply = await<xcb_query_extension_reply_t>(
        x.xcb(),
        xcb_query_extension(x.xcb(), static_cast<std::uint16_t>(name.size()), name.c_str()),
        deadline);
    return reply && reply->present;
}

std::vector<Monitor> randrMonitors(Connection& x, Deadline deadline) {
    std::vector<Monitor> monitors;
    if (!extensionPresent(x, "RANDR", deadline)) return monitors;
    // Monitors came with RandR 1.5; the version must be asked before any other request.
    auto version = await<xcb_randr_query_version_reply_t>(
        x.xcb(), xcb_randr_query_version(x.xcb(), 1, 5), deadline);
    if (!version || (version->major_version == 1 && version->minor_version < 5)) return monitors;
    auto reply = await<xcb_randr_get_monitors_reply_t>(
        x.xcb(), xcb_randr_get_monitors(x.xcb(), x.root(), 1), deadline);
    if (!reply) return monitors;
    std::optional<Monitor> primary;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        const auto& info = *it.data;
        Monitor monitor{info.name, {info.x, info.y, info.width, info.height}, {}};
        monitor.usable = monitor.area;
        if (info.primary && !primary)
            primary = monitor;
        else
            monitors.push_back(monitor);
    }
    if (primary) monitors.insert(monitors.begin(), *primary);
    return monitors;
}

// Trims each monitor by the docks whose reserved strip lies on it.
void applyStruts(std::vector<Monitor>& monitors, const std::vector<std::uint32_t>& strut,
                 int rootWidth, int rootHeight) {
    const auto v = [&](std::size_t i) { return static_cast<int>(strut[i]); };
    const bool partial = strut.size() >= 12;
    const PixelRect left{0, partial ? v(4) : 0, v(0), partial ? v(5) - v(4) + 1 : rootHeight};
    const PixelRect right{rootWidth - v(1), partial ? v(6) : 0, v(1),
                          partial ? v(7) - v(6) + 1 : rootHeight};
    const PixelRect top{partial ? v(8) : 0, 0, partial ? v(9) - v(8) + 1 : rootWidth, v(2)};
    const PixelRect bottom{partial ? v(10) : 0, rootHeight - v(3),
                           partial ? v(11) - v(10) + 1 : rootWidth, v(3)};
    for (auto& monitor : monitors) {
        PixelRect& u = monitor.usable;
        if (!left.empty() && left.intersects(monitor.area)) {
            const int edge = std::max(u.x, left.x + left.width);
            u.width -= edge - u.x;
            u.x = edge;
        }
        if (!right.empty() && right.intersects(monitor.area))
            u.width = std::min(u.x + u.width, right.x) - u.x;
        if (!top.empty() && top.intersects(monitor.area)) {
            const int edge = std::max(u.y, top.y + top.height);
            u.height -= edge - u.y;
            u.y = edge;
        }
        if (!bottom.empty() && bottom.intersects(monitor.area))
            u.height = std::min(u.y + u.height, bottom.y) - u.y;
    }
}

// _NET_WORKAREA spans all monitors; it only narrows a single monitor reliably.
void applyWorkarea(std::vector<Monitor>& monitors, Connection& x, const DesktopAtoms& atoms,
                   Deadline deadline) {
    if (monitors.size() != 1) return;
    auto desktopCookie = askProperty(x.xcb(), x.root(), atoms.currentDesktop, XCB_ATOM_CARDINAL);
    auto areaCookie = askProperty(x.xcb(), x.root(), atoms.workarea, XCB_ATOM_CARDINAL);
    auto desktop = cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), desktopCookie, deadline),
                               XCB_ATOM_CARDINAL);
    auto area = cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), areaCookie, deadline),
                            XCB_ATOM_CARDINAL);
    const std::size_t index = desktop && !desktop->empty() ? (*desktop)[0] : 0;
    if (!area || area->size() < (index + 1) * 4) return;
    const PixelRect work{
        static_cast<int>((*area)[index * 4]), static_cast<int>((*area)[index * 4 + 1]),
        static_cast<int>((*area)[index * 4 + 2]), static_cast<int>((*area)[index * 4 + 3])};
    const PixelRect both = monitors[0].usable.intersection(work);
    if (!both.empty()) monitors[0].usable = both;
}

void applyDocks(std::vector<Monitor>& monitors, Connection& x, const DesktopAtoms& atoms,
                Deadline deadline) {
    const auto clients = clientWindows(x, atoms, deadline);
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
    cookies.reserve(clients.size());
    for (auto window : clients)
        cookies.emplace_back(askProperty(x.xcb(), window, atoms.strutPartial, XCB_ATOM_CARDINAL),
                             askProperty(x.xcb(), window, atoms.strut, XCB_ATOM_CARDINAL));
    const int rootWidth = x.screen()->width_in_pixels, rootHeight = x.screen()->height_in_pixels;
    for (auto [partialCookie, plainCookie] : cookies) {
        auto partial = cardinalsIn(
            await<xcb_get_property_reply_t>(x.xcb(), partialCookie, deadline), XCB_ATOM_CARDINAL);
        auto plain = cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), plainCookie, deadline),
                                 XCB_ATOM_CARDINAL);
        if (partial && partial->size() >= 12)
            applyStruts(monitors, *partial, rootWidth, rootHeight);
        else if (plain && plain->size() >= 4)
            applyStruts(monitors, *plain, rootWidth, rootHeight);
    }
}

} // namespace

Connection* Session::connection() {
    if (connection_ && xcb_connection_has_error(connection_->xcb())) connection_.reset();
    if (!connection_) {
        auto opened = Connection::open();
        if (!opened) return nullptr;
        try {
            atoms_ = assign(internAtoms(opened->xcb(), atomNames, deadlineFromNow()));
        } catch (const PlatformError&) {
            return nullptr; // a server that does not answer is no display to use
        }
        connection_ = std::move(opened);
        fresh_ = true;
    }
    return connection_.get();
}

void Session::reset() {
    connection_.reset();
}

bool Session::fresh() {
    return std::exchange(fresh_, false);
}

bool PixelRect::intersects(const PixelRect& other) const {
    return !intersection(other).empty();
}

PixelRect PixelRect::intersection(const PixelRect& other) const {
    const int left = std::max(x, other.x), top = std::max(y, other.y);
    const int right = std::min(x + width, other.x + other.width);
    const int bottom = std::min(y + height, other.y + other.height);
    return {left, top, right - left, bottom - top};
}

Rect Layout::toGlobal(const PixelRect& pixels) const {
    const PixelRect& origin = monitors.front().area;
    return {(pixels.x - origin.x) / scale, (pixels.y - origin.y) / scale, pixels.width / scale,
            pixels.height / scale};
}

Rect Layout::toScreen(const PixelRect& pixels) const {
    const Rect global = toGlobal(pixels);
    const double primaryHeight = monitors.front().area.height / scale;
    return {global.x, primaryHeight - (global.y + global.height), global.width, global.height};
}

PixelRect Layout::fromGlobal(const Rect& points) const {
    const PixelRect& origin = monitors.front().area;
    const auto pixels = [&](double value) { return static_cast<int>(std::lround(value * scale)); };
    return {pixels(points.x) + origin.x, pixels(points.y) + origin.y, pixels(points.width),
            pixels(points.height)};
}

Point Layout::pointToGlobal(int x, int y) const {
    const PixelRect& origin = monitors.front().area;
    return {(x - origin.x) / scale, (y - origin.y) / scale};
}

Point Layout::pointToScreen(int x, int y) const {
    const Point global = pointToGlobal(x, y);
    return {global.x, monitors.front().area.height / scale - global.y};
}

const Monitor* Layout::monitorAt(int x, int y) const {
    for (const auto& monitor : monitors)
        if (monitor.area.intersects({x, y, 1, 1})) return &monitor;
    return nullptr;
}

Layout readLayout(Connection& x, const DesktopAtoms& atoms, bool usableAreas, Deadline deadline) {
    auto resources = askProperty(x.xcb(), x.root(), atoms.resourceManager, XCB_ATOM_STRING);
    Layout layout;
    layout.monitors = randrMonitors(x, deadline);
    if (layout.monitors.empty()) {
        const PixelRect whole{0, 0, x.screen()->width_in_pixels, x.screen()->height_in_pixels};
        layout.monitors.push_back({XCB_ATOM_NONE, whole, whole});
    }
    layout.scale = scaleFrom(textIn(await<xcb_get_property_reply_t>(x.xcb(), resources, deadline)));
    if (usableAreas) {
        applyWorkarea(layout.monitors, x, atoms, deadline);
        applyDocks(layout.monitors, x, atoms, deadline);
    }
    return layout;
}

std::optional<PixelRect> frameOf(Connection& x, const DesktopAtoms& atoms, xcb_window_t window,
                                 Deadline deadline) {
    auto geometryCookie = xcb_get_geometry(x.xcb(), window);
    auto originCookie = xcb_translate_coordinates(x.xcb(), window, x.root(), 0, 0);
    auto extentsCookie = askProperty(x.xcb(), window, atoms.frameExtents, XCB_ATOM_CARDINAL);
    auto geometry = await<xcb_get_geometry_reply_t>(x.xcb(), geometryCookie, deadline);
    auto origin = await<xcb_translate_coordinates_reply_t>(x.xcb(), originCookie, deadline);
    auto extents = cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), extentsCookie, deadline),
                               XCB_ATOM_CARDINAL);
    if (!geometry || !origin) return std::nullopt;
    int left = 0, right = 0, top = 0, bottom = 0;
    if (extents && extents->size() == 4) {
        left = static_cast<int>((*extents)[0]);
        right = static_cast<int>((*extents)[1]);
        top = static_cast<int>((*extents)[2]);
        bottom = static_cast<int>((*extents)[3]);
    }
    return PixelRect{origin->dst_x - left, origin->dst_y - top, geometry->width + left + right,
                     geometry->height + top + bottom};
}

std::vector<xcb_window_t> clientWindows(Connection& x, const DesktopAtoms& atoms,
                                        Deadline deadline) {
    auto cookie =
        askProperty(x.xcb(), x.root(), atoms.clientListStacking, XCB_ATOM_WINDOW, 1u << 20);
    auto list =
        cardinalsIn(await<xcb_get_property_reply_t>(x.xcb(), cookie, deadline), XCB_ATOM_WINDOW);
    if (!list) return {};
    return std::vector<xcb_window_t>(list->begin(), list->end());
}

} // namespace tarvine::adapters::x11
