#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarvine::platform {

// The event model of the keyboard hooks: event types, virtual key codes and flag bits are the
// documented ones, whatever the desktop underneath calls them.
enum class EventType : std::uint32_t {
    leftMouseDown = 1,
    rightMouseDown = 3,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    otherMouseDown = 25,
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

// The bit of an event type in a tap's event mask.
constexpr std::uint64_t maskBit(EventType type) {
    return std::uint64_t{1} << static_cast<std::uint32_t>(type);
}

namespace EventFlags {
// Generic modifier flags: set while either key of the kind is down (Caps Lock while locked).
constexpr std::uint64_t alphaShift = 0x10000;
constexpr std::uint64_t shift = 0x20000;
constexpr std::uint64_t control = 0x40000;
constexpr std::uint64_t option = 0x80000;
constexpr std::uint64_t command = 0x100000;
// Device-dependent flags: set while that particular key is down.
constexpr std::uint64_t leftControl = 0x01;
constexpr std::uint64_t leftShift = 0x02;
constexpr std::uint64_t rightShift = 0x04;
constexpr std::uint64_t leftCommand = 0x08;
constexpr std::uint64_t rightCommand = 0x10;
constexpr std::uint64_t leftOption = 0x20;
constexpr std::uint64_t rightOption = 0x40;
constexpr std::uint64_t rightControl = 0x2000;
} // namespace EventFlags

namespace KeyCode {
constexpr std::int64_t returnKey = 36;
constexpr std::int64_t tab = 48;
constexpr std::int64_t space = 49;
constexpr std::int64_t deleteKey = 51;
constexpr std::int64_t escape = 53;
constexpr std::int64_t rightCommand = 54;
constexpr std::int64_t command = 55;
constexpr std::int64_t shift = 56;
constexpr std::int64_t capsLock = 57;
constexpr std::int64_t option = 58;
constexpr std::int64_t control = 59;
constexpr std::int64_t rightShift = 60;
constexpr std::int64_t rightOption = 61;
constexpr std::int64_t rightControl = 62;
constexpr std::int64_t keypadEnter = 76;
constexpr std::int64_t home = 115;
constexpr std::int64_t upArrow = 126;
// A key the documented model has no code for.
constexpr std::int64_t unknown = 0xFF;
} // namespace KeyCode

struct InputEvent {
    EventType type = EventType::keyDown;
    std::int64_t keyCode = KeyCode::unknown; // key events and flag changes
    std::uint64_t flags = 0;                 // generic and device-dependent modifier flags
    std::string text{};                      // a key down's text in the current layout (UTF-8)
    bool ownInput = false;                   // injected by this process
};

// A listen-only tap: it sees events, never changes or drops them. It lives until destroyed.
class EventTap {
public:
    virtual ~EventTap() = default;
    // Switches the tap on again after a disabled notification.
    virtual void enable() = 0;
};

// System-wide listening to input, and the key presses this process posts itself.
class EventTaps {
public:
    using Callback = std::function<void(const InputEvent&)>;
    enum class Placement { headInsert, tailAppend };

    virtual ~EventTaps() = default;

    // A tap that calls `callback` on the main loop with each event whose type is in `mask`
    // (see maskBit), and with the disabled notifications; null when it cannot be created.
    virtual std::unique_ptr<EventTap> create(Placement placement, std::uint64_t mask,
                                             Callback callback) = 0;
    // Asks the user for listen-event access where the desktop has such a request.
    virtual void requestListenEventAccess() = 0;
    // Posts `count` presses (down and up, without flags) of the key with this code.
    virtual void postKeyPresses(std::int64_t keyCode, int count) = 0;
};

} // namespace tarvine::platform
