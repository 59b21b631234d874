#include "AccessibilityBus.h"

#include <cstdlib>
#include <filesystem>
#include <gio/gio.h>
#include <string>

namespace tarvine::adapters::atspi {

namespace {

// The session bus's address, without the autolaunch that a missing address would trigger.
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::filesystem::path socket = std::filesystem::path(runtime) / "bus";
        std::error_code error;
        if (std::filesystem::exists(socket, error)) return "unix:path=" + socket.string();
    }
    return {};
}

GDBusConnection* connect(const std::string& address) {
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    return g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr,
                                                  nullptr);
}

} // namespace

bool accessibilityBusReachable(std::chrono::milliseconds limit) {
    std::string address = sessionBusAddress();
    if (address.empty()) return false;
    GDBusConnection* session = connect(address);
    if (!session) return false;
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<int>(limit.count()),
        nullptr, nullptr);
    bool reachable = false;
    if (reply) {
        const char* busAddress = nullptr;
        g_variant_get(reply, "(&s)", &busAddress);
        if (busAddress && *busAddress) {
            if (GDBusConnection* bus = connect(busAddress)) {
                reachable = true;
                g_dbus_connection_close_sync(bus, nullptr, nullptr);
                g_object_unref(bus);
            }
        }
        g_variant_unref(reply);
    }
    g_dbus_connection_close_sync(session, nullptr, nullptr);
    g_object_unref(session);
    return reachable;
}

} // namespace tarvine::adapters::atspi
