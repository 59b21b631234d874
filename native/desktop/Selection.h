#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvine::Selection {

// Why no selected text could be read; what() is the raw value the commands report.
class ReadError : public std::runtime_error {
public:
    enum Case { accessibility, secure, none };

    explicit ReadError(Case value);
    Case value() const { return value_; }

private:
    Case value_;
};

// Words that mark a terminal application in its lower-cased identifier: text is left on the
// pasteboard there instead of being pasted.
inline constexpr std::array<std::string_view, 9> terminals = {
    "terminal", "iterm", "ghostty", "kitty", "wezterm", "warp", "alacritty", "cmux", "hyper"};

struct Selected {
    std::string text;
    std::int32_t pid = 0;
};

// The selected text of the frontmost application, through the accessibility service, else
// through a synthetic Copy whose effect on the pasteboard is undone.
asio::awaitable<Selected> read();

// Pastes `text` over the selection when the application with `pid` is still in front (and is
// no terminal); otherwise leaves it on the pasteboard and returns false.
asio::awaitable<bool> replace(std::string text, std::int32_t pid);

// Waits, at most one second, until the user has let go of Shift, Control, Option and Command.
asio::awaitable<void> waitForModifiers();

// The text a synthetic Copy puts on the pasteboard, or none; the pasteboard is given back.
asio::awaitable<std::optional<std::string>> copy();

} // namespace tarvine::Selection
