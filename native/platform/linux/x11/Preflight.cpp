#include "Preflight.h"

#include "Connection.h"

#include <xcb/xinput.h>

namespace tarvine::adapters::x11 {

bool screenCapturePreflight() {
    return Connection::open() != nullptr;
}

bool inputMonitoringPreflight() {
    auto x = Connection::open();
    if (!x || !x->hasExtension("XInputExtension")) return false;
    auto cookie = xcb_input_xi_query_version(x->xcb(), 2, 2);
    Reply<xcb_input_xi_query_version_reply_t> reply(
        xcb_input_xi_query_version_reply(x->xcb(), cookie, nullptr));
    return reply && reply->major_version >= 2;
}

} // namespace tarvine::adapters::x11
