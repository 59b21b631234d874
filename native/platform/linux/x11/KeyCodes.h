#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <xkbcommon/xkbcommon.h>

namespace tarvine::adapters::x11 {

// The documented virtual key code of the key at this XKB position ("RTRN" is 36), or the
// code for an unknown key. Positions, unlike keysyms, do not move with the layout, as the
// documented codes do not.
std::int64_t virtualKeyCode(std::string_view xkbKeyName);

// The XKB position of a documented key code; empty for codes without one.
std::string_view xkbKeyName(std::int64_t keyCode);

// A modifier key as the event model sees it: its code and the flags it holds while down.
struct ModifierKey {
    std::int64_t keyCode;
    std::uint64_t generic; // 0 for Caps Lock, whose flag follows the lock instead
    std::uint64_t device;
};

// What modifier a key is, judged by its keysym at the base level, so that a remapped key
// counts as what it does: Super is Command, Alt and AltGr are Option. The side comes from
// the keysym, and for the level-three shift from its position.
std::optional<ModifierKey> modifierKey(xkb_keysym_t baseKeysym, std::string_view xkbKeyName);

} // namespace tarvine::adapters::x11
