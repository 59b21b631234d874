#pragma once

#include "server/CommandTable.h"

namespace tarvine {

// "window.snap": the focused window to a half or the whole of its screen.
class WindowCommands {
public:
    void registerIn(CommandTable& table);

private:
    static asio::awaitable<Reply> snap(const Request& request);
};

} // namespace tarvine
