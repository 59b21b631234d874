#include "desktop/WindowCommands.h"

#include "base/MainLoop.h"
#include "desktop/Windows.h"

namespace tarvine {

void WindowCommands::registerIn(CommandTable& table) {
    table.add("window.snap", snap);
}

asio::awaitable<Reply> WindowCommands::snap(const Request& request) {
    std::string mode = request.string("to", "maximize");
    // The window manager takes a moment to move a window; the main loop goes on meanwhile.
    auto job = [mode = std::move(mode)]() -> const char* {
        try {
            Windows::snap(mode);
            return nullptr;
        } catch (const Windows::SnapError& error) {
            return error.which() == Windows::SnapError::accessibility ? "accessibility"
                                                                      : "no-window";
        } catch (...) {
            return "no-window";
        }
    };
    auto work = MainLoop::offload(std::move(job));
    const char* error = co_await std::move(work);
    if (error) co_return Message{{"ok", false}, {"error", error}};
    co_return Message{{"ok", true}};
}

} // namespace tarvine
