#include "desktop/SnippetCommands.h"

#include "desktop/Dictation.h"

namespace tarvine {

SnippetCommands::SnippetCommands() : snippets_(Dictation::paste) {}

void SnippetCommands::registerIn(CommandTable& table) {
    table.add("snippets.set", [this](const Request& r) { return set(r); });
}

asio::awaitable<Reply> SnippetCommands::set(const Request& request) {
    if (!snippets_.set(request.objects("items")))
        co_return Message{{"ok", false}, {"error", "input-monitoring"}};
    co_return Message{{"ok", true}};
}

} // namespace tarvine
