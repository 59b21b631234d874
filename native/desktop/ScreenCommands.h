#pragma once

#include "server/CommandTable.h"

namespace tarvine {

// "capture", "fingerprint" and "wallpaper": pictures of the screen for the host.
class ScreenCommands {
public:
    void registerIn(CommandTable& table);

private:
    static asio::awaitable<Reply> capture(const Request& request);
    static asio::awaitable<Reply> fingerprint(const Request& request);
    static asio::awaitable<Reply> wallpaper(const Request& request);
};

} // namespace tarvine
