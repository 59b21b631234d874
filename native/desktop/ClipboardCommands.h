#pragma once

#include "base/Events.h"
#include "server/CommandTable.h"

namespace tarvine {

// "clipboard.watch": newly copied text goes out as {"type": "clipboard", "text": ...}.
class ClipboardCommands {
public:
    explicit ClipboardCommands(Events& events) : events_(events) {}

    void registerIn(CommandTable& table);

private:
    asio::awaitable<Reply> watch(const Request& request);

    Events& events_;
};

} // namespace tarvine
