#include "Display.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <string>
#include <xcb/xcbext.h>
#include <xcb/xinput.h>

namespace tarvine::glass::x11 {

namespace {

constexpr std::array<const char*, static_cast<std::size_t>(Atom::Count)> kAtomNames = {
    "_NET_SUPPORTED",
    "_KDE_NET_WM_BLUR_BEHIND_REGION",
    "_NET_WM_PID",
    "WM_CLIENT_MACHINE",
    "_NET_WM_NAME",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DND",
    "UTF8_STRING",
    "TARGETS",
    "text/uri-list",
    "XdndAware",
    "XdndSelection",
    "XdndEnter",
    "XdndPosition",
    "XdndStatus",
    "XdndLeave",
    "XdndDrop",
    "XdndFinished",
    "XdndActionCopy",
};

constexpr auto kReplyTimeout = std::chrono::seconds(1);

// The one connection of the process; it lives until the host's environment goes away.
Display* instance = nullptr;

} // namespace

Display* Display::shared(uv_loop_t* loop) {
    if (instance) return instance;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name || !loop) return nullptr;
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && roots.rem; ++i)
        xcb_screen_next(&roots);
    if (!roots.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    instance = new Display(connection, roots.data, loop);
    return instance;
}

Display* Display::current() {
    return instance;
}

void Display::close() {
    delete instance;
    instance = nullptr;
}

Display::Display(xcb_connection_t* connection, xcb_screen_t* screen, uv_loop_t* loop)
    : connection_(connection), screen_(screen), loop_(loop), poll_(new uv_poll_t{}) {
    internAtoms();
    readScale();
    queryXInput();
    uv_poll_init(loop_, poll_, xcb_get_file_descriptor(connection_));
    poll_->data = this;
    uv_poll_start(poll_, UV_READABLE, &Display::onReadable);
    // Watching the connection alone must not keep the host alive.
    uv_unref(reinterpret_cast<uv_handle_t*>(poll_));
}

Display::~Display() {
    // libuv still owns the handle until its close callback: it is freed there.
    uv_poll_stop(poll_);
    uv_close(reinterpret_cast<uv_handle_t*>(poll_),
             [](uv_handle_t* handle) { delete reinterpret_cast<uv_poll_t*>(handle); });
    xcb_disconnect(connection_);
}

void Display::internAtoms() {
    // One batch: every request goes out before the first reply is read.
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const char* name : kAtomNames)
        cookies.push_back(
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    for (auto cookie : cookies) {
        auto answer = reply<xcb_intern_atom_reply_t>(cookie.sequence);
        atoms_.push_back(answer ? answer->atom : xcb_atom_t{XCB_ATOM_NONE});
    }
}

void Display::readScale() {
    auto cookie = xcb_get_property(connection_, 0, root(), XCB_ATOM_RESOURCE_MANAGER,
                                   XCB_ATOM_STRING, 0, 1u << 16);
    auto answer = reply<xcb_get_property_reply_t>(cookie.sequence);
    if (!answer || answer->format != 8) return;
    std::string resources(static_cast<const char*>(xcb_get_property_value(answer.get())),
                          static_cast<std::size_t>(xcb_get_property_value_length(answer.get())));
    auto at = resources.find("Xft.dpi:");
    if (at != 0 && (at == std::string::npos || resources[at - 1] != '\n')) return;
    double dpi = std::strtod(resources.c_str() + at + 8, nullptr);
    if (dpi > 0) scale_ = dpi / 96.0;
}

void Display::queryXInput() {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection_, &xcb_input_id);
    if (!extension || !extension->present) return;
    // Raw events reach us during other clients' grabs only from XInput 2.1 on.
    auto cookie = xcb_input_xi_query_version(connection_, 2, 2);
    auto version = reply<xcb_input_xi_query_version_reply_t>(cookie.sequence);
    if (version && (version->major_version > 2 ||
                    (version->major_version == 2 && version->minor_version >= 2)))
        xinputOpcode_ = extension->major_opcode;
}

void* Display::awaitReply(unsigned sequence) {
    xcb_flush(connection_);
    auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    for (;;) {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(connection_, sequence, &answer, &error)) {
            std::free(error);
            return answer;
        }
        if (xcb_connection_has_error(connection_)) return nullptr;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            xcb_discard_reply(connection_, sequence);
            return nullptr;
        }
        pollfd watched{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&watched, 1, static_cast<int>(left.count()) + 1);
    }
}

void Display::addSink(EventSink* sink) {
    if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
}

void Display::removeSink(EventSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void Display::pump() {
    for (;;) {
        Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_)};
        if (!event) {
            forEachSink([](EventSink& sink) { sink.drained(); });
            // What the sinks asked meanwhile may have queued more events.
            event.reset(xcb_poll_for_queued_event(connection_));
            if (!event) break;
        }
        forEachSink([&](EventSink& sink) { sink.handle(*event); });
    }
    xcb_flush(connection_);
}

template <class Call> void Display::forEachSink(Call call) {
    // A sink may remove itself (a drag that ends) while it is called.
    auto sinks = sinks_;
    for (EventSink* sink : sinks)
        if (std::find(sinks_.begin(), sinks_.end(), sink) != sinks_.end()) call(*sink);
}

void Display::keepLoopAlive(bool alive) {
    auto* handle = reinterpret_cast<uv_handle_t*>(poll_);
    if (alive)
        uv_ref(handle);
    else
        uv_unref(handle);
}

void Display::onReadable(uv_poll_t* poll, int status, int /*events*/) {
    auto* display = static_cast<Display*>(poll->data);
    if (status < 0 || xcb_connection_has_error(display->connection_)) {
        // A server that is gone would make the socket readable for ever.
        uv_poll_stop(poll);
        display->forEachSink([](EventSink& sink) { sink.connectionLost(); });
        return;
    }
    display->pump();
}

} // namespace tarvine::glass::x11
