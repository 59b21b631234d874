#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace tarvine::adapters::x11 {

// One connection to the X server of $DISPLAY, with the helpers every X11 adapter needs:
// atoms, window properties and the display's scale.
class Connection {
public:
    // Connects, or returns null when there is no reachable display.
    static std::unique_ptr<Connection> open();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* xcb() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }

    xcb_atom_t atom(const std::string& name);
    bool hasExtension(const char* name);

    // Window properties; absent when the window lacks the property or it has another type.
    std::optional<std::vector<std::uint32_t>>
    cardinals(xcb_window_t window, const std::string& property, xcb_atom_t type);
    std::optional<std::string> text(xcb_window_t window, const std::string& property);
    // WM_CLASS as (instance, class).
    std::optional<std::pair<std::string, std::string>> wmClass(xcb_window_t window);

    // Device pixels per point: Xft.dpi / 96 from the resource database, 1 without it.
    double scale();

private:
    Connection(xcb_connection_t* connection, xcb_screen_t* screen);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    std::map<std::string, xcb_atom_t> atoms_;
};

// Replies from xcb are malloc'ed; this frees them.
struct FreeDeleter {
    void operator()(void* p) const noexcept;
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace tarvine::adapters::x11
