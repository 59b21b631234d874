#include "Connection.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace tarvine::adapters::x11 {

void FreeDeleter::operator()(void* p) const noexcept {
    std::free(p);
}

std::unique_ptr<Connection> Connection::open() {
    // Without DISPLAY there is nothing to reach; xcb would only fail more slowly.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return nullptr;
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
    return std::unique_ptr<Connection>(new Connection(connection, roots.data));
}

Connection::Connection(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection), screen_(screen) {}

Connection::~Connection() {
    xcb_disconnect(connection_);
}

xcb_atom_t Connection::atom(const std::string& name) {
    if (auto found = atoms_.find(name); found != atoms_.end()) return found->second;
    auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    atoms_[name] = value;
    return value;
}

bool Connection::hasExtension(const char* name) {
    auto cookie =
        xcb_query_extension(connection_, static_cast<std::uint16_t>(std::strlen(name)), name);
    Reply<xcb_query_extension_reply_t> reply(
        xcb_query_extension_reply(connection_, cookie, nullptr));
    return reply && reply->present;
}

namespace {

Reply<xcb_get_property_reply_t> property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type, std::uint32_t maxWords) {
    auto cookie = xcb_get_property(c, 0, window, name, type, 0, maxWords);
    return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(c, cookie, nullptr));
}

} // namespace

std::optional<std::vector<std::uint32_t>>
Connection::cardinals(xcb_window_t window, const std::string& name, xcb_atom_t type) {
    auto reply = property(connection_, window, atom(name), type, 1u << 20);
    if (!reply || reply->type != type || reply->format != 32) return std::nullopt;
    auto* values = static_cast<std::uint32_t*>(xcb_get_property_value(reply.get()));
    int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<std::uint32_t>(values, values + count);
}

std::optional<std::string> Connection::text(xcb_window_t window, const std::string& name) {
    auto reply = property(connection_, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 1u << 16);
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8) return std::nullopt;
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

std::optional<std::pair<std::string, std::string>> Connection::wmClass(xcb_window_t window) {
    auto value = text(window, "WM_CLASS");
    if (!value) return std::nullopt;
    auto split = value->find('\0');
    if (split == std::string::npos) return std::make_pair(*value, std::string());
    std::string instance = value->substr(0, split);
    std::string klass = value->substr(split + 1);
    if (auto end = klass.find('\0'); end != std::string::npos) klass.resize(end);
    return std::make_pair(instance, klass);
}

double Connection::scale() {
    auto resources = text(root(), "RESOURCE_MANAGER");
    if (!resources) return 1.0;
    std::istringstream lines(*resources);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Xft.dpi:", 0) != 0) continue;
        double dpi = std::strtod(line.c_str() + 8, nullptr);
        if (dpi > 0) return dpi / 96.0;
    }
    return 1.0;
}

} // namespace tarvine::adapters::x11
