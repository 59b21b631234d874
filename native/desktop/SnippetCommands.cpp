#include "desktop/SnippetCommands.h"

namespace tarvine {

namespace {

// Stands in for the text commands' paste until it is part of the program: inserts nothing.
asio::awaitable<bool> pasteNotAvailableYet(std::string) {
    co_return false;
}

} // namespace

SnippetCommands::SnippetCommands() : snippets_(pasteNotAvailableYet) {}

void SnippetCommands::registerIn(CommandTable& table) {
    table.add("snippets.set", [this](const Request& r) { return set(r); });
}

asio::awaitable<Reply> SnippetCommands::set(const Request& request) {
    if (!snippets_.set(request.objects("items")))
        co_return Message{{"ok", false}, {"error", "input-monitoring"}};
    co_return Message{{"ok", true}};
}

} // namespace tarvine
