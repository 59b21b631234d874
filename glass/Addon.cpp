// tarvine-glass: glass panels behind the host's windows and native file drags out of them,
// called by the host's script code on its main thread.
#include "Drag.h"
#include "Glass.h"
#include "x11/Display.h"
#include "x11/Windows.h"

#include <cstring>
#include <exception>
#include <node_api.h>
#include <optional>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace tarvine::glass {

namespace {

constexpr std::size_t kMaxNumbers = 256;
constexpr std::size_t kPathBuffer = 4096;
constexpr std::size_t kMaxPathBytes = 4094;

// Linux gives the main thread the process's own id; worker threads get others.
bool onMainThread() {
    return gettid() == getpid();
}

void logFailure(const char* description) {
    syslog(LOG_ERR, "tarvine-glass: %s", description);
}

struct Arguments {
    std::size_t count = 0;
    napi_value values[3] = {};
};

Arguments fetch(napi_env env, napi_callback_info info) {
    Arguments args;
    args.count = 3;
    if (napi_get_cb_info(env, info, &args.count, args.values, nullptr, nullptr) != napi_ok)
        args.count = 0;
    return args;
}

// The window handle: a Buffer of exactly 8 bytes holding the host's X11 window id.
std::optional<std::uint64_t> windowHandle(napi_env env, napi_value value) {
    bool isBuffer = false;
    if (napi_is_buffer(env, value, &isBuffer) != napi_ok || !isBuffer) return std::nullopt;
    void* data = nullptr;
    std::size_t length = 0;
    if (napi_get_buffer_info(env, value, &data, &length) != napi_ok || length != 8)
        return std::nullopt;
    std::uint64_t handle = 0;
    std::memcpy(&handle, data, sizeof handle);
    return handle;
}

// An array of at most 256 numbers; anything else is unusable.
std::optional<std::vector<double>> numbers(napi_env env, napi_value value) {
    bool isArray = false;
    std::uint32_t length = 0;
    if (napi_is_array(env, value, &isArray) != napi_ok || !isArray ||
        napi_get_array_length(env, value, &length) != napi_ok || length > kMaxNumbers)
        return std::nullopt;
    std::vector<double> result(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        napi_value element = nullptr;
        napi_valuetype type = napi_undefined;
        if (napi_get_element(env, value, i, &element) != napi_ok ||
            napi_typeof(env, element, &type) != napi_ok || type != napi_number ||
            napi_get_value_double(env, element, &result[i]) != napi_ok)
            return std::nullopt;
    }
    return result;
}

// The whole path or nothing: a path cut short at the buffer's end would name another file.
std::optional<std::string> path(napi_env env, napi_value value) {
    std::size_t length = 0;
    if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok ||
        length > kMaxPathBytes)
        return std::nullopt;
    char buffer[kPathBuffer];
    std::size_t copied = 0;
    if (napi_get_value_string_utf8(env, value, buffer, sizeof buffer, &copied) != napi_ok ||
        copied != length)
        return std::nullopt;
    return std::string(buffer, copied);
}

napi_value boolean(napi_env env, bool value) {
    napi_value result = nullptr;
    napi_get_boolean(env, value, &result);
    return result;
}

x11::Display* display(napi_env env) {
    uv_loop_t* loop = nullptr;
    if (napi_get_uv_event_loop(env, &loop) != napi_ok) return nullptr;
    return x11::Display::shared(loop);
}

// Runs `work` on the window the handle names; platform failures are logged and give false.
template <class Work> bool onWindow(napi_env env, std::uint64_t handle, Work work) {
    try {
        x11::Display* desktop = display(env);
        if (!desktop) return false;
        bool result = false;
        if (auto window = x11::windowOfThisProcess(*desktop, handle))
            result = work(*desktop, *window);
        desktop->pump();
        return result;
    } catch (const std::exception& e) {
        logFailure(e.what());
    } catch (...) {
        logFailure("unknown failure");
    }
    return false;
}

napi_value setGlass(napi_env env, napi_callback_info info) {
    Arguments args = fetch(env, info);
    if (args.count < 3) return boolean(env, false);
    auto handle = windowHandle(env, args.values[0]);
    if (!handle) return boolean(env, false);
    auto rectangles = numbers(env, args.values[1]);
    auto tint = numbers(env, args.values[2]);
    if (!rectangles || rectangles->size() % 6 != 0 || !tint || tint->size() != 4 || !onMainThread())
        return boolean(env, false);
    return boolean(env, onWindow(env, *handle, [&](x11::Display& desktop, xcb_window_t window) {
                       return apply(desktop, window, *rectangles, *tint);
                   }));
}

napi_value drag(napi_env env, napi_callback_info info) {
    Arguments args = fetch(env, info);
    if (args.count < 3) return boolean(env, false);
    auto handle = windowHandle(env, args.values[0]);
    if (!handle) return boolean(env, false);
    auto file = path(env, args.values[1]);
    if (!file) return boolean(env, false);
    double size = 0;
    if (napi_get_value_double(env, args.values[2], &size) != napi_ok || !(size > 0))
        return boolean(env, false);
    if (!onMainThread()) return boolean(env, false);
    return boolean(env, onWindow(env, *handle, [&](x11::Display& desktop, xcb_window_t window) {
                       return beginDrag(desktop, window, *file, size);
                   }));
}

napi_value dragState(napi_env env, napi_callback_info /*info*/) {
    napi_value result = nullptr;
    napi_create_int32(env, getDragState(), &result);
    return result;
}

// The connection and its libuv handles belong to the main thread's loop.
void shutdown(void* /*unused*/) {
    forgetDragSource();
    if (x11::Display* desktop = x11::Display::current()) forgetPanels(*desktop);
    x11::Display::close();
}

void exportFunction(napi_env env, napi_value exports, const char* name, napi_callback callback) {
    napi_value function = nullptr;
    if (napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, nullptr, &function) != napi_ok)
        return;
    napi_set_named_property(env, exports, name, function);
}

} // namespace

} // namespace tarvine::glass

extern "C" {

NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
    using namespace tarvine::glass;
    exportFunction(env, exports, "setGlass", setGlass);
    exportFunction(env, exports, "drag", drag);
    exportFunction(env, exports, "dragState", dragState);
    // Node refuses a hook registered twice for one environment.
    static bool hooked = false;
    if (onMainThread() && !hooked)
        hooked = napi_add_env_cleanup_hook(env, shutdown, nullptr) == napi_ok;
    return exports;
}

NAPI_MODULE_EXPORT std::int32_t node_api_module_get_api_version_v1() {
    return 8;
}

} // extern "C"
