#include "server/Server.h"

#include "base/HelperError.h"
#include "server/RequestReader.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace tarvine {

Server::Server(const CommandTable& commands, Events& output, std::function<void()> flush,
               std::size_t maxLineBytes)
    : exitProcess([](int status) {
          std::fflush(nullptr);
          // Other threads (audio, the pool) may still run; ending without static destructors
          // keeps them from touching destroyed state.
          std::_Exit(status);
      }),
      commands_(commands), output_(output), flush_(std::move(flush)), maxLineBytes_(maxLineBytes) {}

void Server::reply(const std::optional<Message>& id, Message body) {
    if (id) body["id"] = *id;
    output_.emit(body);
}

asio::awaitable<void> Server::handle(Message request) {
    std::optional<Message> id;
    std::string name;
    if (auto found = request.find("id"); found != request.end()) id = *found;
    if (auto found = request.find("cmd"); found != request.end() && found->is_string())
        name = found->get<std::string>();

    const CommandTable::Handler* command = commands_.find(name);
    if (!command) {
        reply(id, {{"ok", false}, {"error", "unknown command"}});
        co_return;
    }
    ++inFlight_;
    std::optional<Reply> answer;
    Request members(request);
    try {
        auto work = (*command)(members);
        answer.emplace(co_await std::move(work));
    } catch (...) {
        answer.emplace(Message{{"ok", false}, {"error", errorMessage(std::current_exception())}});
    }
    reply(id, std::move(answer->body));
    for (const auto& event : answer->events)
        output_.emit(event);
    --inFlight_;
    answered_.notify();
}

asio::awaitable<void> Server::shutdown() {
    // A host that closes its input after its last request still expects that request's
    // reply, so requests still being answered get a bounded time to finish first.
    auto deadline = MainLoop::Clock::now() + shutdownGrace;
    while (inFlight_ > 0)
        if (!co_await answered_.waitUntil(deadline)) break;
    for (const auto& work : commands_.endOfInput()) {
        auto step = work();
        co_await std::move(step);
    }
    flush_();
    exitProcess(0);
}

void Server::run(int inputFd) {
    std::thread([this, inputFd] { readerLoop(inputFd); }).detach();
}

void Server::readerLoop(int fd) {
    RequestReader reader(maxLineBytes_, [this](Message request) {
        asio::post(MainLoop::context(), [this, request = std::move(request)]() mutable {
            MainLoop::spawn(handle(std::move(request)));
        });
    });
    char buffer[1 << 16];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        reader.feed(std::string_view(buffer, static_cast<std::size_t>(count)));
    }
    reader.finish();
    asio::post(MainLoop::context(), [this] { MainLoop::spawn(shutdown()); });
}

} // namespace tarvine
