#include "ClipboardCommands.h"

#include "Clipboard.h"

namespace tarvine {

void ClipboardCommands::registerIn(CommandTable& table) {
    table.add("clipboard.watch", [this](const Request& r) { return watch(r); });
}

asio::awaitable<Reply> ClipboardCommands::watch(const Request&) {
    Clipboard::watch([&events = events_](const std::string& text) {
        events.emit(Message{{"type", "clipboard"}, {"text", text}});
    });
    co_return Message{{"ok", true}};
}

} // namespace tarvine
