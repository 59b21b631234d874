#pragma once

#include "platform/KeyboardOutput.h"

#include <memory>

namespace tarvine::adapters::x11 {

// Synthetic keys through XTest. Documented key codes become the keysyms of this keymap
// (Command becomes Control); text is entered character by character, through the keymap
// where the character is on a key and otherwise through a spare keycode that is mapped to the
// character's keysym for the moment.
std::unique_ptr<platform::KeyboardOutput> makeKeyboardOutput();

} // namespace tarvine::adapters::x11
