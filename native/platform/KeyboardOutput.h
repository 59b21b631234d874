#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <string>

namespace tarvine::platform {

// Modifier flags of a keyboard event, as the documented events carry them.
namespace KeyFlags {
constexpr std::uint64_t shift = 1ull << 17;
constexpr std::uint64_t control = 1ull << 18;
constexpr std::uint64_t option = 1ull << 19;
constexpr std::uint64_t command = 1ull << 20;
} // namespace KeyFlags

// Documented virtual key codes used by the core.
namespace KeyCodes {
constexpr std::uint16_t c = 8;
constexpr std::uint16_t v = 9;
constexpr std::uint16_t deleteBackward = 51;
// The key code of events that only carry text.
constexpr std::uint16_t textOnly = 255;
} // namespace KeyCodes

// One synthetic keyboard event. A key-down with `text` enters that text exactly, whatever
// the key code and the keyboard layout; its key-up enters nothing.
struct KeyEvent {
    std::uint16_t keyCode = 0;
    bool down = true;
    std::uint64_t flags = 0; // exactly these modifiers are down for the event
    std::string text;        // UTF-8
};

// Synthetic keyboard input into whatever application has the keyboard focus. Main loop only.
class KeyboardOutput {
public:
    virtual ~KeyboardOutput() = default;

    // Posts one event; false when it could not be made (nothing was posted then).
    virtual asio::awaitable<bool> post(KeyEvent event) = 0;
    // The modifier flags of the keyboard's state now (the keys the user holds).
    virtual std::uint64_t modifierFlags() = 0;
};

} // namespace tarvine::platform
