#pragma once

#include "base/Events.h"
#include "server/CommandTable.h"

#include <memory>

namespace tarvine {

class Transcriber;

// "listen.start", "listen.pause", "listen.stop": the listening session, whose partial and
// committed text and errors go out as events. The end of input stops it.
class ListenCommands {
public:
    explicit ListenCommands(Events& events) : events_(events) {}

    void registerIn(CommandTable& table);

    // The current session; main loop only.
    const std::shared_ptr<Transcriber>& transcriber() const { return transcriber_; }

private:
    asio::awaitable<Reply> start(const Request& request);
    asio::awaitable<Reply> pause(const Request& request);
    asio::awaitable<Reply> stop(const Request& request);
    asio::awaitable<void> endOfInput();

    Events& events_;
    std::shared_ptr<Transcriber> transcriber_;
};

} // namespace tarvine
