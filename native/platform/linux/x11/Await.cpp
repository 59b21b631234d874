#include "Await.h"

#include <algorithm>
#include <poll.h>
#include <xcb/xcbext.h>

namespace tarvine::adapters::x11 {

namespace {

// Waits for the socket to have something to read; false once the deadline has passed.
bool waitReadable(xcb_connection_t* c, Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd socket{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&socket, 1, static_cast<int>(left.count()) + 1);
    return true;
}

PlatformError silentDisplay() {
    return PlatformError("X11", "The display server did not answer in time.");
}

} // namespace

PlatformError lostDisplay() {
    return PlatformError("X11", "The connection to the display server was lost.");
}

void* awaitReply(xcb_connection_t* c, unsigned int sequence, Deadline deadline,
                 xcb_generic_error_t** error) {
    xcb_flush(c);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* failure = nullptr;
        if (xcb_poll_for_reply(c, sequence, &reply, &failure)) {
            if (error)
                *error = failure;
            else
                std::free(failure);
            return reply;
        }
        if (xcb_connection_has_error(c)) throw lostDisplay();
        if (!waitReadable(c, deadline)) throw silentDisplay();
    }
}

void sync(xcb_connection_t* c, Deadline deadline) {
    await<xcb_get_input_focus_reply_t>(c, xcb_get_input_focus(c), deadline);
}

bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    void* reply = nullptr;
    xcb_generic_error_t* failure = nullptr;
    xcb_poll_for_reply(c, cookie.sequence, &reply, &failure);
    std::free(reply);
    const bool ok = failure == nullptr;
    std::free(failure);
    return ok;
}

Reply<xcb_generic_event_t> awaitEvent(xcb_connection_t* c,
                                      const std::function<bool(const xcb_generic_event_t&)>& accept,
                                      Deadline deadline) {
    xcb_flush(c);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            Reply<xcb_generic_event_t> owned(event);
            if (accept(*event)) return owned;
        }
        if (xcb_connection_has_error(c)) throw lostDisplay();
        if (!waitReadable(c, deadline)) return nullptr;
    }
}

std::vector<xcb_atom_t> internAtoms(xcb_connection_t* c, const std::vector<std::string>& names,
                                    Deadline deadline) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const auto& name : names)
        cookies.push_back(
            xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()));
    std::vector<xcb_atom_t> atoms;
    atoms.reserve(names.size());
    for (auto cookie : cookies) {
        auto reply = await<xcb_intern_atom_reply_t>(c, cookie, deadline);
        atoms.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
    return atoms;
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                      xcb_atom_t type, std::uint32_t maxWords) {
    return xcb_get_property(c, 0, window, name, type, 0, maxWords);
}

std::optional<std::vector<std::uint32_t>> cardinalsIn(const Reply<xcb_get_property_reply_t>& reply,
                                                      xcb_atom_t type) {
    if (!reply || reply->type != type || reply->format != 32) return std::nullopt;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(values, values + count);
}

std::optional<std::string> textIn(const Reply<xcb_get_property_reply_t>& reply) {
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return std::nullopt;
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

} // namespace tarvine::adapters::x11
