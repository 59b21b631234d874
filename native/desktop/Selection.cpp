#include "Selection.h"

#include "Clipboard.h"
#include "Dictation.h"
#include "base/MainLoop.h"
#include "base/Text.h"
#include "platform/Accessibility.h"
#include "platform/KeyboardOutput.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

#include <algorithm>

namespace tarvine::Selection {

namespace {

using namespace std::chrono_literals;
using platform::KeyFlags::command;
using platform::KeyFlags::control;
using platform::KeyFlags::option;
using platform::KeyFlags::shift;

constexpr auto look = 20ms;
constexpr int modifierLooks = 50;
constexpr int copyPolls = 25;

// Chromium marks a copy made with nothing selected in its custom data; the name differs by
// platform.
constexpr std::string_view chromiumTypes[] = {"org.chromium.web-custom-data",
                                              "chromium/x-web-custom-data"};
constexpr std::u16string_view emptySelectionFlag = u"\"isFromEmptySelection\":true";

const char* rawValue(ReadError::Case value) {
    switch (value) {
    case ReadError::accessibility:
        return "accessibility";
    case ReadError::secure:
        return "secure";
    case ReadError::none:
        break;
    }
    return "no-selection";
}

platform::Integration& desktop() {
    return platform::integration();
}

// Accessibility and workspace questions block: they go to the pool.
template <class F> auto blocking(F ask) {
    return MainLoop::offload(std::move(ask));
}

asio::awaitable<void> requireTrust() {
    if (!co_await blocking([] { return desktop().accessibility().trusted(); }))
        throw ReadError(ReadError::accessibility);
}

asio::awaitable<std::optional<platform::RunningApplication>> frontmostApplication() {
    co_return co_await blocking([] { return desktop().workspace().frontmostApplication(false); });
}

bool fromEmptySelection(const std::string& bytes) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = char16_t(std::uint8_t(bytes[2 * i]) | (std::uint8_t(bytes[2 * i + 1]) << 8));
    return text.find(emptySelectionFlag) != std::u16string::npos;
}

asio::awaitable<bool> copiedFromEmptySelection() {
    auto& board = desktop().pasteboard();
    for (auto type : chromiumTypes) {
        auto read = board.data(std::string(type));
        if (auto data = co_await std::move(read); data && fromEmptySelection(*data)) co_return true;
    }
    co_return false;
}

asio::awaitable<void> pressCopy() {
    auto& keyboard = desktop().keyboardOutput();
    for (bool down : {true, false}) {
        platform::KeyEvent event{platform::KeyCodes::c, down, command, {}};
        co_await keyboard.post(std::move(event));
    }
}

// Ends the watcher's pause with the pasteboard's count as it is now, however the copy ends.
struct Pause {
    Pause() { Clipboard::paused() = true; }
    ~Pause() {
        Clipboard::lastChange() = desktop().pasteboard().changeCount();
        Clipboard::paused() = false;
    }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
};

bool isTerminal(std::string identifier) {
    std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return std::any_of(terminals.begin(), terminals.end(), [&](std::string_view word) {
        return identifier.find(word) != std::string::npos;
    });
}

} // namespace

ReadError::ReadError(Case value) : std::runtime_error(rawValue(value)), value_(value) {}

asio::awaitable<void> waitForModifiers() {
    auto& keyboard = desktop().keyboardOutput();
    for (int i = 0; i < modifierLooks; ++i) {
        if ((keyboard.modifierFlags() & (shift | control | option | command)) == 0) co_return;
        co_await MainLoop::sleep(look);
    }
}

asio::awaitable<std::optional<std::string>> copy() {
    auto held = co_await Clipboard::borrow();
    Pause pause;
    auto saved = co_await Clipboard::save();
    auto& board = desktop().pasteboard();
    const auto before = board.changeCount();
    co_await pressCopy();
    bool changed = false;
    for (int i = 0; i < copyPolls && !(changed = board.changeCount() != before); ++i)
        co_await MainLoop::sleep(look);
    if (!changed) co_return std::nullopt;
    std::optional<std::string> text;
    if (!co_await copiedFromEmptySelection()) text = co_await board.string();
    co_await Clipboard::restore(std::move(saved));
    co_return text;
}

asio::awaitable<Selected> read() {
    co_await requireTrust();
    if (co_await blocking([] { return desktop().accessibility().secureEventInput(); }))
        throw ReadError(ReadError::secure);
    auto app = co_await frontmostApplication();
    if (!app) throw ReadError(ReadError::none);
    const std::int32_t pid = app->pid;
    auto element =
        co_await blocking([pid] { return desktop().accessibility().focusedElement(pid); });
    if (element) {
        if (element->secure) throw ReadError(ReadError::secure);
        if (element->selectedText && !Text::isBlank(*element->selectedText))
            co_return Selected{*element->selectedText, pid};
    }
    co_await waitForModifiers();
    auto copied = co_await copy();
    if (copied && !Text::isBlank(*copied)) co_return Selected{*copied, pid};
    throw ReadError(ReadError::none);
}

asio::awaitable<bool> replace(std::string text, std::int32_t pid) {
    co_await requireTrust();
    auto app = co_await frontmostApplication();
    const std::string identifier = app && app->identifier ? *app->identifier : std::string();
    if (app && app->pid == pid && !isTerminal(identifier)) {
        co_await waitForModifiers();
        co_return co_await Dictation::paste(std::move(text));
    }
    co_await desktop().pasteboard().writeString(std::move(text), {});
    co_return false;
}

} // namespace tarvine::Selection
