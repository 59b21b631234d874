#include "WindowManager.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tarvine::adapters::x11 {

namespace {

using namespace std::chrono_literals;

// How long a window manager gets to carry out one change before the window is taken as it is.
constexpr auto settleLimit = 400ms;

constexpr std::uint32_t northWestGravity = 1;
constexpr std::uint32_t hasX = 1u << 8, hasY = 1u << 9, hasWidth = 1u << 10, hasHeight = 1u << 11;
// The request comes from a tool acting for the user, which window managers always honour.
constexpr std::uint32_t fromUser = 2u << 12;
constexpr std::uint32_t removeState = 0;

struct Extents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

Extents extentsOf(Connection& x, const DesktopAtoms& atoms, xcb_window_t window,
                  Deadline deadline) {
    auto values = cardinalsIn(
        await<xcb_get_property_reply_t>(
            x.xcb(), askProperty(x.xcb(), window, atoms.frameExtents, XCB_ATOM_CARDINAL), deadline),
        XCB_ATOM_CARDINAL);
    if (!values || values->size() != 4) return {};
    return {static_cast<int>((*values)[0]), static_cast<int>((*values)[1]),
            static_cast<int>((*values)[2]), static_cast<int>((*values)[3])};
}

void sendToRoot(Connection& x, xcb_window_t window, xcb_atom_t type,
                const std::array<std::uint32_t, 5>& data) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(x.xcb(), 0, x.root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(x.xcb());
}

void watch(Connection& x, xcb_window_t window) {
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(x.xcb(), window, XCB_CW_EVENT_MASK, &mask);
}

bool concerns(const xcb_generic_event_t& event, xcb_window_t window) {
    switch (event.response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY:
        return reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == window;
    case XCB_PROPERTY_NOTIFY:
        return reinterpret_cast<const xcb_property_notify_event_t&>(event).window == window;
    default:
        return false;
    }
}

// Runs `read` on the session's connection; a display that is gone or silent gives `none`.
template <class T, class F> T withConnection(Session& session, T none, F read) {
    std::lock_guard guard(session.lock());
    Connection* x = session.connection();
    if (!x) return none;
    try {
        return read(*x, session.atoms(), deadlineFromNow());
    } catch (const PlatformError&) {
        session.reset();
        return none;
    }
}

} // namespace

std::optional<WindowManager::Window> WindowManager::focusedWindow() {
    return withConnection(
        session_, std::optional<Window>{},
        [](Connection& x, const DesktopAtoms& atoms, Deadline deadline) -> std::optional<Window> {
            auto active = cardinalsIn(
                await<xcb_get_property_reply_t>(
                    x.xcb(), askProperty(x.xcb(), x.root(), atoms.activeWindow, XCB_ATOM_WINDOW),
                    deadline),
                XCB_ATOM_WINDOW);
            if (!active || active->empty() || (*active)[0] == XCB_WINDOW_NONE) return std::nullopt;
            // The hint may still name a window that has just gone away.
            auto attributes = await<xcb_get_window_attributes_reply_t>(
                x.xcb(), xcb_get_window_attributes(x.xcb(), (*active)[0]), deadline);
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return std::nullopt;
            return (*active)[0];
        });
}

Rect WindowManager::frame(Window window) {
    return withConnection(session_, Rect{},
                          [window](Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
                              const Layout layout = readLayout(x, atoms, false, deadline);
                              auto frame = frameOf(x, atoms, window, deadline);
                              return frame ? layout.toGlobal(*frame) : Rect{};
                          });
}

void WindowManager::setSize(Window window, Size size) {
    withConnection(session_, false,
                   [&](Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
                       restore(x, window, deadline);
                       const Layout layout = readLayout(x, atoms, false, deadline);
                       const PixelRect wanted = layout.fromGlobal({0, 0, size.width, size.height});
                       moveResize(x, window, wanted, hasWidth | hasHeight, deadline);
                       return true;
                   });
}

void WindowManager::setPosition(Window window, Point origin) {
    withConnection(session_, false,
                   [&](Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
                       restore(x, window, deadline);
                       const Layout layout = readLayout(x, atoms, false, deadline);
                       const PixelRect wanted = layout.fromGlobal({origin.x, origin.y, 0, 0});
                       moveResize(x, window, wanted, hasX | hasY, deadline);
                       return true;
                   });
}

void WindowManager::restore(Connection& x, xcb_window_t window, Deadline deadline) {
    const DesktopAtoms& atoms = session_.atoms();
    auto states = cardinalsIn(
        await<xcb_get_property_reply_t>(
            x.xcb(), askProperty(x.xcb(), window, atoms.wmState, XCB_ATOM_ATOM), deadline),
        XCB_ATOM_ATOM);
    const auto has = [&](xcb_atom_t atom) {
        return states && std::find(states->begin(), states->end(), atom) != states->end();
    };
    if (!has(atoms.stateMaximizedVert) && !has(atoms.stateMaximizedHorz)) return;
    watch(x, window);
    sendToRoot(x, window, atoms.wmState,
               {removeState, atoms.stateMaximizedVert, atoms.stateMaximizedHorz, 2, 0});
    // A maximized window ignores new sizes: wait until the window manager has let it go.
    const auto until = std::min(deadline, std::chrono::steady_clock::now() + settleLimit);
    awaitEvent(
        x.xcb(),
        [&](const xcb_generic_event_t& event) {
            return (event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                   reinterpret_cast<const xcb_property_notify_event_t&>(event).window == window &&
                   reinterpret_cast<const xcb_property_notify_event_t&>(event).atom ==
                       atoms.wmState;
        },
        until);
}

void WindowManager::moveResize(Connection& x, xcb_window_t window, const PixelRect& wanted,
                               std::uint32_t flags, Deadline deadline) {
    const DesktopAtoms& atoms = session_.atoms();
    const Extents extents = extentsOf(x, atoms, window, deadline);
    // Sizes name the client area, positions the outer corner of the frame (north-west gravity).
    const int clientWidth = std::max(1, wanted.width - extents.left - extents.right);
    const int clientHeight = std::max(1, wanted.height - extents.top - extents.bottom);
    const auto matches = [&](const PixelRect& now) {
        return (!(flags & hasX) || (now.x == wanted.x && now.y == wanted.y)) &&
               (!(flags & hasWidth) || (now.width == wanted.width && now.height == wanted.height));
    };
    if (auto now = frameOf(x, atoms, window, deadline); now && matches(*now)) return;
    watch(x, window);
    sendToRoot(x, window, atoms.moveresizeWindow,
               {northWestGravity | flags | fromUser, static_cast<std::uint32_t>(wanted.x),
                static_cast<std::uint32_t>(wanted.y), static_cast<std::uint32_t>(clientWidth),
                static_cast<std::uint32_t>(clientHeight)});
    const auto until = std::min(deadline, std::chrono::steady_clock::now() + settleLimit);
    while (awaitEvent(
        x.xcb(), [&](const xcb_generic_event_t& e) { return concerns(e, window); }, until)) {
        if (auto now = frameOf(x, atoms, window, deadline); now && matches(*now)) return;
    }
}

} // namespace tarvine::adapters::x11
