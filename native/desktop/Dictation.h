#pragma once

#include "base/Message.h"

#include <asio/awaitable.hpp>
#include <string>

namespace tarvine::Dictation {

// Inserts `text` into the frontmost application: typed for the applications that need it,
// otherwise pasted with the user's pasteboard given back afterwards. False only when this
// process may not drive other applications (nothing is inserted then).
asio::awaitable<bool> paste(std::string text);

// The frontmost application: "name", "pid" and a 64 x 64 PNG "icon" data URL; empty when
// there is none.
asio::awaitable<Message> frontmost();

} // namespace tarvine::Dictation
