#include "EventTap.h"

#include "Connection.h"
#include "KeyCodes.h"
#include "base/MainLoop.h"
#include "platform/linux/Bounded.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <xcb/xinput.h>
#include <xcb/xtest.h>
// xkb.h names a field `explicit`, a C++ keyword.
#define explicit xkbExplicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

namespace tarvine::adapters::x11 {

namespace {

using namespace std::chrono_literals;
using platform::EventType;
using platform::InputEvent;

// How long connecting, reading a keymap or posting keys may take before it counts as failed.
constexpr auto serverLimit = 2000ms;
// After a lost connection, how long until the next notification that re-enables the tap.
constexpr auto retryDelay = 2s;

struct KeymapFree {
    void operator()(xkb_keymap* keymap) const noexcept { xkb_keymap_unref(keymap); }
};
struct StateFree {
    void operator()(xkb_state* state) const noexcept { xkb_state_unref(state); }
};
struct ContextFree {
    void operator()(xkb_context* context) const noexcept { xkb_context_unref(context); }
};

// The keyboard as the server describes it: keymap and the state of its modifiers and group.
struct Keyboard {
    std::unique_ptr<xkb_keymap, KeymapFree> keymap;
    std::unique_ptr<xkb_state, StateFree> state;
};

std::optional<Keyboard> loadKeyboard(xcb_connection_t* c, std::int32_t device) {
    std::unique_ptr<xkb_context, ContextFree> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) return std::nullopt;
    Keyboard keyboard;
    keyboard.keymap.reset(
        xkb_x11_keymap_new_from_device(context.get(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keyboard.keymap) return std::nullopt;
    keyboard.state.reset(xkb_x11_state_new_from_device(keyboard.keymap.get(), c, device));
    if (!keyboard.state) return std::nullopt;
    return keyboard;
}

// Sets up XKB on the connection; the core keyboard's device id, or nothing.
std::optional<std::int32_t> setUpXkb(xcb_connection_t* c, std::uint8_t* eventBase) {
    if (!xkb_x11_setup_xkb_extension(
            c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, eventBase, nullptr))
        return std::nullopt;
    std::int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    if (device < 0) return std::nullopt;
    return device;
}

// One connection with the raw events and the keyboard notifications selected.
struct Session {
    std::shared_ptr<Connection> x;
    std::uint8_t xinputOpcode = 0;
    std::uint8_t xkbEventBase = 0;
    std::int32_t keyboardDevice = 0;
    std::set<xcb_input_device_id_t> xtestDevices;
    Keyboard keyboard;
};

bool selectRawEvents(Connection& x) {
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    Reply<xcb_generic_error_t> error(xcb_request_check(
        x.xcb(), xcb_input_xi_select_events_checked(x.xcb(), x.root(), 1, &mask.head)));
    return !error;
}

bool selectKeyboardNotifications(xcb_connection_t* c, std::int32_t device) {
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr std::uint16_t stateParts =
        XCB_XKB_STATE_PART_MODIFIER_BASE | XCB_XKB_STATE_PART_MODIFIER_LATCH |
        XCB_XKB_STATE_PART_MODIFIER_LOCK | XCB_XKB_STATE_PART_GROUP_BASE |
        XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = stateParts;
    details.stateDetails = stateParts;
    Reply<xcb_generic_error_t> error(xcb_request_check(
        c, xcb_xkb_select_events_aux_checked(c, static_cast<xcb_xkb_device_spec_t>(device), events,
                                             0, 0, mapParts, mapParts, &details)));
    return !error;
}

// The slave devices XTest injects through, by id.
std::set<xcb_input_device_id_t> xtestDevices(xcb_connection_t* c) {
    std::set<xcb_input_device_id_t> ids;
    Reply<xcb_input_xi_query_device_reply_t> reply(xcb_input_xi_query_device_reply(
        c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!reply) return ids;
    for (auto it = xcb_input_xi_query_device_infos_iterator(reply.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        std::string name(xcb_input_xi_device_info_name(it.data),
                         static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
        if (name.find("XTEST") != std::string::npos) ids.insert(it.data->deviceid);
    }
    return ids;
}

bool hasXInput2(Connection& x, std::uint8_t* opcode) {
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(x.xcb(), &xcb_input_id);
    if (!extension || !extension->present) return false;
    *opcode = extension->major_opcode;
    Reply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        x.xcb(), xcb_input_xi_query_version(x.xcb(), 2, 2), nullptr));
    return version && version->major_version >= 2;
}

std::unique_ptr<Session> openSession() {
    auto session = std::make_unique<Session>();
    session->x = Connection::open();
    if (!session->x) return nullptr;
    auto* c = session->x->xcb();
    if (!hasXInput2(*session->x, &session->xinputOpcode)) return nullptr;
    auto device = setUpXkb(c, &session->xkbEventBase);
    if (!device) return nullptr;
    session->keyboardDevice = *device;
    auto keyboard = loadKeyboard(c, *device);
    if (!keyboard) return nullptr;
    session->keyboard = std::move(*keyboard);
    if (!selectKeyboardNotifications(c, *device) || !selectRawEvents(*session->x)) return nullptr;
    session->xtestDevices = xtestDevices(c);
    return session;
}

// The XKB events share one event code; the kind is in the second byte.
struct XkbEventHeader {
    std::uint8_t responseType;
    std::uint8_t xkbType;
    std::uint16_t sequence;
    xcb_timestamp_t time;
    std::uint8_t deviceID;
};

class Tap : public platform::EventTap {
public:
    Tap(std::uint64_t mask, platform::EventTaps::Callback callback, OwnInput& ownInput)
        : mask_(mask), callback_(std::move(callback)), ownInput_(ownInput),
          retry_(MainLoop::context()) {}
    ~Tap() override {
        *alive_ = false;
        disconnect();
    }

    bool connect();
    void enable() override;

private:
    void disconnect();
    void awaitEvents();
    void readEvents();
    void handle(const xcb_generic_event_t& event);
    void handleKeyboardNotification(const xcb_generic_event_t& event);
    void handleRawKey(const xcb_input_raw_key_press_event_t& event, bool press);
    void handleRawButton(const xcb_input_raw_button_press_event_t& event);
    void reloadKeyboard();
    void lost();
    void deliver(InputEvent event);

    std::uint64_t flags() const;
    std::string text(xcb_keycode_t key) const;
    std::optional<ModifierKey> modifierOf(xcb_keycode_t key) const;
    std::string keyName(xcb_keycode_t key) const;
    bool fromOwnInjection(xcb_input_device_id_t source) const {
        return session_->xtestDevices.contains(source) && ownInput_.active();
    }

    const std::uint64_t mask_;
    platform::EventTaps::Callback callback_;
    OwnInput& ownInput_;
    std::unique_ptr<Session> session_;
    std::optional<asio::posix::stream_descriptor> socket_;
    MainLoop::Timer retry_;
    bool keymapStale_ = false;
    // Modifier keys down now, by keycode: modifier masks cannot tell left from right.
    std::map<xcb_keycode_t, ModifierKey> held_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

bool Tap::connect() {
    session_ = bounded(serverLimit, std::unique_ptr<Session>(), [] { return openSession(); });
    if (!session_) return false;
    held_.clear();
    socket_.emplace(MainLoop::context(), xcb_get_file_descriptor(session_->x->xcb()));
    // Replies read while connecting may have queued events already.
    MainLoop::post([this, alive = alive_] {
        if (*alive) readEvents();
    });
    return true;
}

void Tap::disconnect() {
    if (socket_) {
        socket_->cancel();
        socket_->release(); // the descriptor belongs to xcb
        socket_.reset();
    }
    session_.reset();
}

void Tap::enable() {
    if (session_) return;
    if (connect()) return;
    retry_.expires_after(retryDelay);
    retry_.async_wait([this, alive = alive_](const asio::error_code& error) {
        if (!error && *alive) deliver(InputEvent{.type = EventType::tapDisabledByTimeout});
    });
}

void Tap::awaitEvents() {
    socket_->async_wait(asio::posix::stream_descriptor::wait_read,
                        [this, alive = alive_](const asio::error_code& error) {
                            if (error || !*alive) return;
                            readEvents();
                        });
}

void Tap::readEvents() {
    if (!session_) return;
    auto* c = session_->x->xcb();
    while (session_) {
        Reply<xcb_generic_event_t> event(xcb_poll_for_event(c));
        if (!event) break;
        handle(*event);
    }
    if (!session_) return;
    if (xcb_connection_has_error(c)) return lost();
    if (keymapStale_) reloadKeyboard();
    awaitEvents();
}

void Tap::lost() {
    disconnect();
    deliver(InputEvent{.type = EventType::tapDisabledByTimeout});
}

void Tap::handle(const xcb_generic_event_t& event) {
    std::uint8_t type = event.response_type & 0x7f;
    if (type == session_->xkbEventBase) return handleKeyboardNotification(event);
    if (type != XCB_GE_GENERIC) return;
    const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
    if (raw.extension != session_->xinputOpcode) return;
    switch (raw.event_type) {
    case XCB_INPUT_RAW_KEY_PRESS:
        return handleRawKey(raw, true);
    case XCB_INPUT_RAW_KEY_RELEASE:
        return handleRawKey(raw, false);
    case XCB_INPUT_RAW_BUTTON_PRESS:
        return handleRawButton(reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event));
    default:
        return;
    }
}

// The server's word on the keyboard is the only source of its state: feeding our own key
// events into it would drift from what applications see.
void Tap::handleKeyboardNotification(const xcb_generic_event_t& event) {
    const auto& header = reinterpret_cast<const XkbEventHeader&>(event);
    if (header.deviceID != session_->keyboardDevice) return;
    switch (header.xkbType) {
    case XCB_XKB_NEW_KEYBOARD_NOTIFY:
    case XCB_XKB_MAP_NOTIFY:
        keymapStale_ = true;
        return;
    case XCB_XKB_STATE_NOTIFY: {
        const auto& state = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
        xkb_state_update_mask(session_->keyboard.state.get(), state.baseMods, state.latchedMods,
                              state.lockedMods, static_cast<xkb_layout_index_t>(state.baseGroup),
                              static_cast<xkb_layout_index_t>(state.latchedGroup),
                              state.lockedGroup);
        return;
    }
    default:
        return;
    }
}

void Tap::reloadKeyboard() {
    keymapStale_ = false;
    auto loaded = bounded(serverLimit, std::optional<Keyboard>(),
                          [x = session_->x, device = session_->keyboardDevice] {
                              return loadKeyboard(x->xcb(), device);
                          });
    // Keep the old keymap when the new one cannot be read: text may be off, keys still count.
    if (loaded) session_->keyboard = std::move(*loaded);
}

void Tap::handleRawKey(const xcb_input_raw_key_press_event_t& event, bool press) {
    if (keymapStale_) reloadKeyboard();
    auto key = static_cast<xcb_keycode_t>(event.detail);
    bool own = fromOwnInjection(event.sourceid);
    if (auto modifier = modifierOf(key)) {
        if (press) {
            // A held modifier may repeat; its flags have not changed.
            if (!held_.emplace(key, *modifier).second) return;
        } else {
            held_.erase(key);
        }
        deliver(InputEvent{.type = EventType::flagsChanged,
                           .keyCode = modifier->keyCode,
                           .flags = flags(),
                           .ownInput = own});
        return;
    }
    deliver(InputEvent{.type = press ? EventType::keyDown : EventType::keyUp,
                       .keyCode = virtualKeyCode(keyName(key)),
                       .flags = flags(),
                       .text = press ? text(key) : std::string(),
                       .ownInput = own});
}

void Tap::handleRawButton(const xcb_input_raw_button_press_event_t& event) {
    EventType type;
    switch (event.detail) {
    case 1:
        type = EventType::leftMouseDown;
        break;
    case 3:
        type = EventType::rightMouseDown;
        break;
    case 4:
    case 5:
    case 6:
    case 7:
        return; // the wheel scrolls; it is no click
    default:
        type = EventType::otherMouseDown;
    }
    deliver(
        InputEvent{.type = type, .flags = flags(), .ownInput = fromOwnInjection(event.sourceid)});
}

void Tap::deliver(InputEvent event) {
    bool disabled = event.type == EventType::tapDisabledByTimeout ||
                    event.type == EventType::tapDisabledByUserInput;
    if (!disabled && !(mask_ & platform::maskBit(event.type))) return;
    callback_(event);
}

std::uint64_t Tap::flags() const {
    std::uint64_t value = 0;
    for (const auto& [key, modifier] : held_)
        value |= modifier.generic | modifier.device;
    if (xkb_state_mod_name_is_active(session_->keyboard.state.get(), XKB_MOD_NAME_CAPS,
                                     XKB_STATE_MODS_LOCKED) > 0)
        value |= platform::EventFlags::alphaShift;
    return value;
}

std::string Tap::keyName(xcb_keycode_t key) const {
    const char* name = xkb_keymap_key_get_name(session_->keyboard.keymap.get(), key);
    return name ? name : "";
}

std::optional<ModifierKey> Tap::modifierOf(xcb_keycode_t key) const {
    auto* keymap = session_->keyboard.keymap.get();
    auto layout = xkb_state_key_get_layout(session_->keyboard.state.get(), key);
    if (layout == XKB_LAYOUT_INVALID) layout = 0;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms) < 1) return std::nullopt;
    return modifierKey(syms[0], keyName(key));
}

std::string Tap::text(xcb_keycode_t key) const {
    auto* state = session_->keyboard.state.get();
    int size = xkb_state_key_get_utf8(state, key, nullptr, 0);
    if (size <= 0) return {};
    std::string utf8(static_cast<std::size_t>(size) + 1, '\0');
    xkb_state_key_get_utf8(state, key, utf8.data(), utf8.size());
    utf8.resize(static_cast<std::size_t>(size));
    return utf8;
}

// Presses and releases the key at this position `count` times on a connection of its own,
// and waits until the server has taken them.
bool pressKeys(const std::string& position, int count) {
    auto x = Connection::open();
    if (!x) return false;
    auto* c = x->xcb();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (!xtest || !xtest->present) return false;
    std::uint8_t eventBase = 0;
    auto device = setUpXkb(c, &eventBase);
    if (!device) return false;
    auto keyboard = loadKeyboard(c, *device);
    if (!keyboard) return false;
    xkb_keycode_t key = xkb_keymap_key_by_name(keyboard->keymap.get(), position.c_str());
    if (key == XKB_KEYCODE_INVALID) return false;
    auto code = static_cast<std::uint8_t>(key);
    for (int i = 0; i < count; ++i) {
        xcb_test_fake_input(c, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    Reply<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return synced != nullptr;
}

} // namespace

std::unique_ptr<platform::EventTap> EventTaps::create(Placement, std::uint64_t mask,
                                                      Callback callback) {
    // Listen-only taps see every event whatever their order, so placement does not matter.
    auto tap = std::make_unique<Tap>(mask, std::move(callback), ownInput_);
    if (!tap->connect()) return nullptr;
    return tap;
}

void EventTaps::postKeyPresses(std::int64_t keyCode, int count) {
    std::string position(xkbKeyName(keyCode));
    if (count <= 0 || position.empty()) return;
    OwnInput::Scope injecting(ownInput_);
    bounded(serverLimit, false, [position, count] { return pressKeys(position, count); });
}

} // namespace tarvine::adapters::x11
