#include "Dictation.h"

#include "Clipboard.h"
#include "Typing.h"
#include "base/Base64.h"
#include "base/MainLoop.h"
#include "base/Png.h"
#include "platform/Accessibility.h"
#include "platform/KeyboardOutput.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace tarvine::Dictation {

namespace {

using namespace std::chrono_literals;

// Long enough for the target application to read the pasteboard.
constexpr auto readingTime = 400ms;
constexpr int iconSize = 64;

asio::awaitable<bool> trusted() {
    co_return co_await MainLoop::offload(
        [] { return platform::integration().accessibility().trusted(); });
}

asio::awaitable<void> pressPaste() {
    auto& keyboard = platform::integration().keyboardOutput();
    for (bool down : {true, false}) {
        platform::KeyEvent event{platform::KeyCodes::v, down, platform::KeyFlags::command, {}};
        co_await keyboard.post(std::move(event));
    }
}

} // namespace

asio::awaitable<bool> paste(std::string text) {
    if (!co_await trusted()) co_return false;
    if (co_await Typing::needed(text)) {
        co_await Typing::type(std::move(text));
        co_return true;
    }
    auto held = co_await Clipboard::borrow();
    auto saved = co_await Clipboard::save();
    std::vector<platform::PasteboardData> markers = {
        {Clipboard::transient, "", {}}, {Clipboard::passwordManagerHint, "secret", {}}};
    co_await platform::integration().pasteboard().writeString(std::move(text), std::move(markers));
    co_await pressPaste();
    co_await MainLoop::sleep(readingTime);
    co_await Clipboard::restore(std::move(saved));
    co_return true;
}

asio::awaitable<Message> frontmost() {
    auto ask = [] { return platform::integration().workspace().frontmostApplication(true); };
    auto app = co_await MainLoop::offload(ask);
    Message description = Message::object();
    if (!app) co_return description;
    description["name"] = app->name;
    description["pid"] = app->pid;
    if (app->icon) {
        if (auto png = encodePng(resized(*app->icon, iconSize, iconSize)))
            description["icon"] = "data:image/png;base64," + base64(*png);
    }
    co_return description;
}

} // namespace tarvine::Dictation
