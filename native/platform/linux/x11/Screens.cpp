#include "Screens.h"

namespace tarvine::adapters::x11 {

namespace {

platform::Screen screenFor(const Layout& layout, const Monitor& monitor) {
    platform::Screen screen;
    screen.frame = layout.toScreen(monitor.area);
    screen.visibleFrame = layout.toScreen(monitor.usable);
    screen.backingScaleFactor = layout.scale;
    if (monitor.name != XCB_ATOM_NONE) screen.number = monitor.name;
    return screen;
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

std::vector<platform::Screen> Screens::screens() {
    return withConnection(session_, std::vector<platform::Screen>{},
                          [](Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
                              const Layout layout = readLayout(x, atoms, true, deadline);
                              std::vector<platform::Screen> screens;
                              for (const auto& monitor : layout.monitors)
                                  screens.push_back(screenFor(layout, monitor));
                              return screens;
                          });
}

std::optional<platform::Screen> Screens::mainScreen() {
    return withConnection(
        session_, std::optional<platform::Screen>{},
        [](Connection& x, const DesktopAtoms& atoms,
           Deadline deadline) -> std::optional<platform::Screen> {
            const Layout layout = readLayout(x, atoms, true, deadline);
            const Monitor* chosen = &layout.monitors.front();
            auto active = cardinalsIn(
                await<xcb_get_property_reply_t>(
                    x.xcb(), askProperty(x.xcb(), x.root(), atoms.activeWindow, XCB_ATOM_WINDOW),
                    deadline),
                XCB_ATOM_WINDOW);
            if (active && !active->empty() && (*active)[0] != XCB_WINDOW_NONE)
                if (auto frame = frameOf(x, atoms, (*active)[0], deadline))
                    if (auto* under = layout.monitorAt(frame->x + frame->width / 2,
                                                       frame->y + frame->height / 2))
                        chosen = under;
            return screenFor(layout, *chosen);
        });
}

Point Screens::mouseLocation() {
    return withConnection(
        session_, Point{}, [](Connection& x, const DesktopAtoms& atoms, Deadline deadline) {
            auto pointerCookie = xcb_query_pointer(x.xcb(), x.root());
            const Layout layout = readLayout(x, atoms, false, deadline);
            auto pointer = await<xcb_query_pointer_reply_t>(x.xcb(), pointerCookie, deadline);
            if (!pointer) return Point{};
            return layout.pointToScreen(pointer->root_x, pointer->root_y);
        });
}

} // namespace tarvine::adapters::x11
