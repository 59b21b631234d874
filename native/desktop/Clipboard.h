#pragma once

#include "platform/Pasteboard.h"

#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tarvine::Clipboard {

// Saved pasteboard contents: one entry per item, in the pasteboard's order.
using Saved = std::vector<platform::PasteboardItem>;

// Marks text that we put on the pasteboard only for a moment.
inline const std::string transient = "org.nspasteboard.TransientType";
// Password managers on this desktop mark secrets with it; text we place for a moment carries
// it too, so that clipboard managers keep it out of their history.
inline const std::string passwordManagerHint = "x-kde-passwordManagerHint";

// A change whose types include any of these is never reported.
const std::set<std::string>& skipped();

// Longest text reported, in UTF-16 code units.
constexpr std::size_t maximumLength = 100000;

// While true the watcher ignores every change (a synthetic copy holds it). Main loop only.
bool& paused();
// The change count the watcher saw last.
std::int64_t& lastChange();

// Starts (or restarts, with a fresh change count and this callback) the watcher: every 0.5 s
// newly copied text is handed to `callback`.
void watch(std::function<void(const std::string&)> callback);

// One look at the pasteboard, as each watcher tick takes it.
asio::awaitable<void> tick();

// Every item with every type's data.
asio::awaitable<Saved> save();
// Puts saved contents back (an empty list leaves the pasteboard empty).
asio::awaitable<void> restore(Saved saved);

// Borrowing the pasteboard (a paste, a synthetic copy) is one at a time: a second borrow
// saving the first one's borrowed text would give the user that text back instead of theirs.
class Borrow {
public:
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow(Borrow&& other) noexcept : held_(std::exchange(other.held_, false)) {}
    ~Borrow();

private:
    friend asio::awaitable<Borrow> borrow();
    Borrow() : held_(true) {}
    bool held_;
};
asio::awaitable<Borrow> borrow();

} // namespace tarvine::Clipboard
