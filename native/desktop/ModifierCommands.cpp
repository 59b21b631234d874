#include "desktop/ModifierCommands.h"

namespace tarvine {

void ModifierCommands::registerIn(CommandTable& table) {
    table.add("modifiers.watch", [this](const Request& r) { return watch(r); });
}

asio::awaitable<Reply> ModifierCommands::watch(const Request&) {
    Events& events = events_;
    bool watching = taps_.watch([&events](const std::string& key) {
        events.emit({{"type", "modifier"}, {"key", key}});
    });
    if (!watching) co_return Message{{"ok", false}, {"error", "input-monitoring"}};
    co_return Message{{"ok", true}};
}

} // namespace tarvine
