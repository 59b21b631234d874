#pragma once

#include "server/CommandTable.h"

namespace tarvine {

// "frontmost" and "paste": the application in front and text inserted into it.
class TextCommands {
public:
    void registerIn(CommandTable& table);

private:
    static asio::awaitable<Reply> frontmost(const Request& request);
    static asio::awaitable<Reply> paste(const Request& request);
};

} // namespace tarvine
