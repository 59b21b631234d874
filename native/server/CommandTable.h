#pragma once

#include "base/Message.h"
#include "server/Request.h"

#include <asio/awaitable.hpp>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvine {

// What a command answers: the reply body (the server adds "id"), and the events that must
// follow the reply, in order.
struct Reply {
    Message body;
    std::vector<Message> events;

    Reply(Message replyBody) : body(std::move(replyBody)) {} // NOLINT: a plain body is a reply
    Reply(Message replyBody, std::vector<Message> followingEvents)
        : body(std::move(replyBody)), events(std::move(followingEvents)) {}
};

// The command index: each "cmd" name, matched exactly (case included), to its handler. A
// command set registers its handlers here; the server only looks them up.
//
// A handler is usually a plain lambda calling a member coroutine,
// [this](const Request& r) { return start(r); }, so no coroutine frame refers to a lambda.
class CommandTable {
public:
    using Handler = std::function<asio::awaitable<Reply>(const Request&)>;
    using Shutdown = std::function<asio::awaitable<void>()>;

    // Registering a name twice is a programming error and aborts.
    void add(std::string name, Handler handler);
    const Handler* find(std::string_view name) const;

    // Work the end of input does before the output is flushed and the process ends, in the
    // order registered (a listening session commits what it still holds).
    void atEndOfInput(Shutdown work) { shutdown_.push_back(std::move(work)); }
    const std::vector<Shutdown>& endOfInput() const { return shutdown_; }

private:
    std::map<std::string, Handler, std::less<>> handlers_;
    std::vector<Shutdown> shutdown_;
};

} // namespace tarvine
