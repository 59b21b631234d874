#pragma once

#include "desktop/Snippets.h"
#include "server/CommandTable.h"

namespace tarvine {

// "snippets.set": the list of snippets the key tap expands.
class SnippetCommands {
public:
    // Snippets insert their content with the paste of the text commands.
    SnippetCommands();
    // With another way of inserting text (unit tests).
    explicit SnippetCommands(Snippets::Paste paste) : snippets_(std::move(paste)) {}

    void registerIn(CommandTable& table);
    Snippets& snippets() { return snippets_; }

private:
    asio::awaitable<Reply> set(const Request& request);

    Snippets snippets_;
};

} // namespace tarvine
