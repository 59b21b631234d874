#pragma once

#include "base/Events.h"
#include "base/MainLoop.h"
#include "base/Message.h"
#include "base/Signal.h"
#include "server/CommandTable.h"

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

namespace tarvine {

// The serve protocol: reads one JSON request per line on a reader thread, runs each as a job
// on the main loop through the command table, and sends exactly one reply per request. It
// knows no command; the command sets register theirs in the table.
class Server {
public:
    static constexpr std::size_t defaultMaxLineBytes = 256u << 20;
    // How long the end of input waits for requests still being answered.
    static constexpr std::chrono::seconds shutdownGrace{10};

    // `output` receives the replies; `flush` waits until everything emitted is written.
    Server(const CommandTable& commands, Events& output, std::function<void()> flush,
           std::size_t maxLineBytes = defaultMaxLineBytes);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts the reader thread on `inputFd` and returns at once. The server must outlive it.
    void run(int inputFd = 0);

    asio::awaitable<void> handle(Message request);

    // What the end of input does once every earlier job has started; the process ends here.
    asio::awaitable<void> shutdown();

    // Tests replace how the process ends.
    std::function<void(int)> exitProcess;

private:
    void reply(const std::optional<Message>& id, Message body);
    void readerLoop(int fd);

    const CommandTable& commands_;
    Events& output_;
    std::function<void()> flush_;
    const std::size_t maxLineBytes_;

    // Requests whose reply has not been sent yet; the end of input waits for them.
    int inFlight_ = 0;
    Signal answered_;
};

} // namespace tarvine
