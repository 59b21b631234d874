#pragma once

#include "Await.h"
#include "base/Geometry.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace tarvine::adapters::x11 {

// The atoms the screen, screenshot and window adapters use, interned in one round trip.
struct DesktopAtoms {
    xcb_atom_t workarea, currentDesktop, clientList, clientListStacking, activeWindow, wmPid,
        wmName, utf8String, wmWindowType, typeDesktop, typeDock, wmState, stateHidden,
        stateMaximizedVert, stateMaximizedHorz, frameExtents, strut, strutPartial, moveresizeWindow,
        rootPixmap, resourceManager;
};

// A connection an adapter keeps for its whole life (screenshots need one: the server keeps
// windows' contents only while the client that asked for it stays connected). Opened on
// first use and again after the server went away. Callers hold lock() while they use it.
class Session {
public:
    std::mutex& lock() { return lock_; }
    // Null without a reachable display.
    Connection* connection();
    const DesktopAtoms& atoms() const { return atoms_; }
    // After a lost connection or an unanswered request: the next use starts afresh.
    void reset();
    // Whether this connection is new since the last call (state tied to it must be redone).
    bool fresh();

private:
    std::mutex lock_;
    std::unique_ptr<Connection> connection_;
    DesktopAtoms atoms_{};
    bool fresh_ = false;
};

// A rectangle in root-window pixels, origin at the root's top left.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool intersects(const PixelRect& other) const;
    PixelRect intersection(const PixelRect& other) const;
    bool empty() const { return width <= 0 || height <= 0; }
};

struct Monitor {
    // The monitor's name atom: its display number.
    xcb_atom_t name = XCB_ATOM_NONE;
    PixelRect area;
    // Without what panels and docks reserve.
    PixelRect usable;
};

// The monitors and how root pixels map to the documented coordinates: points are pixels
// divided by the scale; screen coordinates have their origin at the bottom left of the
// primary monitor (y up), global coordinates at its top left (y down).
struct Layout {
    std::vector<Monitor> monitors; // the primary first
    double scale = 1.0;

    Rect toScreen(const PixelRect& pixels) const;
    Rect toGlobal(const PixelRect& pixels) const;
    PixelRect fromGlobal(const Rect& points) const;
    Point pointToScreen(int x, int y) const;
    Point pointToGlobal(int x, int y) const;
    // The monitor holding the given root pixel.
    const Monitor* monitorAt(int x, int y) const;
};

// Reads the monitors (RandR, the primary first; the whole root when RandR has none) and the
// scale; with `usableAreas`, also what the work area and docks' struts leave of each.
Layout readLayout(Connection& x, const DesktopAtoms& atoms, bool usableAreas, Deadline deadline);

// A window's frame as the user sees it, decoration included, in root pixels.
std::optional<PixelRect> frameOf(Connection& x, const DesktopAtoms& atoms, xcb_window_t window,
                                 Deadline deadline);

// The client windows of the window manager, bottom to top.
std::vector<xcb_window_t> clientWindows(Connection& x, const DesktopAtoms& atoms,
                                        Deadline deadline);

} // namespace tarvine::adapters::x11
