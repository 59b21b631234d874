#pragma once

#include "server/CommandTable.h"

namespace tarvine {

// "ping" and "permissions".
class SystemCommands {
public:
    void registerIn(CommandTable& table);

private:
    static asio::awaitable<Reply> ping(const Request& request);
    static asio::awaitable<Reply> permissions(const Request& request);
};

} // namespace tarvine
