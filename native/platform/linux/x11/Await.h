#pragma once

#include "Connection.h"
#include "base/HelperError.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace tarvine::adapters::x11 {

using Deadline = std::chrono::steady_clock::time_point;

// How long one conversation with the X server may take: a server that accepts requests and
// then says nothing must not hang a screenshot or a snap.
constexpr std::chrono::milliseconds answerLimit{2000};

inline Deadline deadlineFromNow(std::chrono::milliseconds limit = answerLimit) {
    return std::chrono::steady_clock::now() + limit;
}

// The reply to request `sequence`, waiting for it until the deadline. Null when the server
// answered with an error (stored in *error when asked for). Throws PlatformError when the
// connection is lost or the deadline passes.
void* awaitReply(xcb_connection_t* c, unsigned int sequence, Deadline deadline,
                 xcb_generic_error_t** error = nullptr);

template <class R, class Cookie>
Reply<R> await(xcb_connection_t* c, Cookie cookie, Deadline deadline) {
    xcb_generic_error_t* error = nullptr;
    void* reply = awaitReply(c, cookie.sequence, deadline, &error);
    std::free(error);
    return Reply<R>(static_cast<R*>(reply));
}

// Waits until the server has handled every request sent so far.
void sync(xcb_connection_t* c, Deadline deadline);

// After sync(): whether a checked request without a reply succeeded.
bool succeeded(xcb_connection_t* c, xcb_void_cookie_t cookie);

// The next event that `accept` takes, waiting until the deadline; none when it passes. Other
// events (and stray errors) are dropped. Throws PlatformError when the connection is lost.
Reply<xcb_generic_event_t> awaitEvent(xcb_connection_t* c,
                                      const std::function<bool(const xcb_generic_event_t&)>& accept,
                                      Deadline deadline);

// Interns every name in one round trip.
std::vector<xcb_atom_t> internAtoms(xcb_connection_t* c, const std::vector<std::string>& names,
                                    Deadline deadline);

// Property reads, asked for first and read later so that many share one round trip.
xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                      xcb_atom_t type = XCB_GET_PROPERTY_TYPE_ANY,
                                      std::uint32_t maxWords = 1u << 16);
// The 32-bit values of a property of `type`; absent for another type or format.
std::optional<std::vector<std::uint32_t>> cardinalsIn(const Reply<xcb_get_property_reply_t>& reply,
                                                      xcb_atom_t type);
// The bytes of an 8-bit property of any type.
std::optional<std::string> textIn(const Reply<xcb_get_property_reply_t>& reply);

PlatformError lostDisplay();

} // namespace tarvine::adapters::x11
