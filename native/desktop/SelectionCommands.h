#pragma once

#include "server/CommandTable.h"

namespace tarvine {

// "selection.read" and "selection.replace": the frontmost application's selected text.
class SelectionCommands {
public:
    void registerIn(CommandTable& table);

private:
    static asio::awaitable<Reply> read(const Request& request);
    static asio::awaitable<Reply> replace(const Request& request);
};

} // namespace tarvine
