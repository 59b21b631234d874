#pragma once

#include "base/Events.h"
#include "desktop/ModifierTaps.h"
#include "server/CommandTable.h"

namespace tarvine {

// "modifiers.watch": each lone tap of a right-hand modifier becomes a "modifier" event.
class ModifierCommands {
public:
    explicit ModifierCommands(Events& events) : events_(events) {}

    void registerIn(CommandTable& table);

private:
    asio::awaitable<Reply> watch(const Request& request);

    Events& events_;
    ModifierTaps taps_;
};

} // namespace tarvine
