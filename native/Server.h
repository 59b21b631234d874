#pragma once

#include "base/MainLoop.h"
#include "base/Message.h"

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvine {

class Transcriber;

// A request's command members, read as the type each command gives them; a missing member,
// or one of another JSON type, takes the command's default.
class Request {
public:
    explicit Request(const Message& body) : body_(body) {}

    std::int64_t integer(std::string_view key, std::int64_t fallback) const;
    double number(std::string_view key, double fallback) const;
    bool boolean(std::string_view key, bool fallback) const;
    std::string string(std::string_view key, const std::string& fallback) const;
    std::vector<Message> objects(std::string_view key) const;

    // An event to send right after the reply (a reply cannot be followed otherwise, since
    // the server sends it when the command returns).
    void followReplyWith(Message event) const { followUps_.push_back(std::move(event)); }
    const std::vector<Message>& followUps() const { return followUps_; }

private:
    const Message* member(std::string_view key) const;
    const Message& body_;
    mutable std::vector<Message> followUps_;
};

// The serve protocol: reads one JSON request per line, runs each as a job on the main loop,
// and sends exactly one reply per request through the output channel.
class Server {
public:
    using Command = asio::awaitable<Message> (Server::*)(const Request&);

    static Server& shared();

    // Starts the reader thread on `inputFd` and returns at once.
    void run(int inputFd = 0);

    asio::awaitable<void> handle(Message request);
    void reply(const std::optional<Message>& id, Message body);

    // What the end of input does once every earlier job has started; the process ends here.
    asio::awaitable<void> shutdown();

    // Tests replace how the process ends.
    std::function<void(int)> exitProcess;

    // The reader's line limit: a longer line cannot be a request the host sent and is
    // skipped whole, so a runaway writer cannot exhaust memory.
    static constexpr std::size_t maxLineBytes = 256u << 20;

    // How long the end of input waits for requests still being answered.
    static constexpr std::chrono::seconds shutdownGrace{10};

    // The listening and dictation sessions; main loop only.
    std::shared_ptr<Transcriber> transcriber;
    std::shared_ptr<Transcriber> dictation;
    std::vector<std::string> dictationText;
    std::string dictationPartial;
    MainLoop::Clock::time_point lastLevelAt = MainLoop::Clock::time_point::min();

    // Emits a dictation level unless one went out less than 60 ms ago. Main loop.
    void throttleLevel(float level);

private:
    Server();

    static const Command* find(std::string_view name);

    // Requests whose reply has not been sent yet; the end of input waits for them.
    int inFlight_ = 0;
    void readerLoop(int fd);

    asio::awaitable<Message> ping(const Request& request);
    asio::awaitable<Message> permissions(const Request& request);
    asio::awaitable<Message> openSession(std::shared_ptr<Transcriber>& slot,
                                         std::shared_ptr<Transcriber> session);
    asio::awaitable<Message> listenStart(const Request& request);
    asio::awaitable<Message> listenPause(const Request& request);
    asio::awaitable<Message> listenStop(const Request& request);
    asio::awaitable<Message> dictateStart(const Request& request);
    asio::awaitable<Message> dictateStop(const Request& request);

    // "dictate.stop" requests still waiting for their session to stop. Their text is taken
    // only once the stop is over, so a "dictate.start" (which clears the text) or a second
    // "dictate.stop" (which takes it) arriving meanwhile waits for them first.
    int dictationStopping_ = 0;
    asio::awaitable<void> dictationStopsFinished();
};

} // namespace tarvine
