#pragma once

#include <asio/awaitable.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvine::Typing {

// Applications into which text is typed instead of pasted, by exact identifier.
const std::set<std::string>& remote();

// Longest piece (one event's text) and longest text typed, in UTF-16 code units.
constexpr std::size_t pieceLength = 20;
constexpr std::size_t typedLimit = 5000;

// The text cut into pieces of at most 20 UTF-16 code units, none beginning with a line feed;
// empty when it cannot be typed.
std::vector<std::string> pieces(std::string_view text);

// Whether text for the application with this identifier is typed rather than pasted.
bool needed(std::string_view text, const std::optional<std::string>& identifier);
// The same for the frontmost application.
asio::awaitable<bool> needed(std::string text);

// Types the text into whatever application has the keyboard focus.
asio::awaitable<void> type(std::string text);

} // namespace tarvine::Typing
