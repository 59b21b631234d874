#include "Server.h"

#include "Out.h"
#include "PermissionReport.h"
#include "base/MainLoop.h"
#include "platform/Platform.h"
#include "speech/SpeechText.h"
#include "speech/Transcriber.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <thread>
#include <unistd.h>

namespace tarvine {

// ---- Request members ----

const Message* Request::member(std::string_view key) const {
    if (!body_.is_object()) return nullptr;
    auto found = body_.find(key);
    return found == body_.end() ? nullptr : &*found;
}

std::int64_t Request::integer(std::string_view key, std::int64_t fallback) const {
    const Message* value = member(key);
    if (!value) return fallback;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned() &&
            value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
            return fallback;
        return value->get<std::int64_t>();
    }
    if (value->is_number_float()) {
        // A whole number written with a fraction or exponent (3.0, 1e3) is still that integer.
        double number = value->get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9.2e18 &&
            number <= 9.2e18)
            return static_cast<std::int64_t>(number);
    }
    return fallback;
}

double Request::number(std::string_view key, double fallback) const {
    const Message* value = member(key);
    return value && value->is_number() ? value->get<double>() : fallback;
}

bool Request::boolean(std::string_view key, bool fallback) const {
    const Message* value = member(key);
    return value && value->is_boolean() ? value->get<bool>() : fallback;
}

std::string Request::string(std::string_view key, const std::string& fallback) const {
    const Message* value = member(key);
    return value && value->is_string() ? value->get<std::string>() : fallback;
}

std::vector<Message> Request::objects(std::string_view key) const {
    const Message* value = member(key);
    std::vector<Message> out;
    if (!value || !value->is_array()) return out;
    for (const auto& item : *value) {
        if (!item.is_object()) return {};
        out.push_back(item);
    }
    return out;
}

// ---- Server ----

Server::Server()
    : exitProcess([](int status) {
          std::fflush(nullptr);
          // Other threads (audio, the pool) may still run; ending without static destructors
          // keeps them from touching destroyed state.
          std::_Exit(status);
      }) {}

Server& Server::shared() {
    static auto* server = new Server();
    return *server;
}

// The command index: each "cmd" is matched exactly, case included.
const Server::Command* Server::find(std::string_view name) {
    static const std::map<std::string, Command, std::less<>> commands = {
        {"ping", &Server::ping},
        {"permissions", &Server::permissions},
        {"listen.start", &Server::listenStart},
        {"listen.pause", &Server::listenPause},
        {"listen.stop", &Server::listenStop},
        {"dictate.start", &Server::dictateStart},
        {"dictate.stop", &Server::dictateStop},
    };
    auto found = commands.find(name);
    return found == commands.end() ? nullptr : &found->second;
}

void Server::reply(const std::optional<Message>& id, Message body) {
    if (id) body["id"] = *id;
    Out::emit(body);
}

asio::awaitable<void> Server::handle(Message request) {
    std::optional<Message> id;
    std::string name;
    if (auto found = request.find("id"); found != request.end()) id = *found;
    if (auto found = request.find("cmd"); found != request.end() && found->is_string())
        name = found->get<std::string>();

    const Command* command = find(name);
    if (!command) {
        reply(id, {{"ok", false}, {"error", "unknown command"}});
        co_return;
    }
    ++inFlight_;
    Message body;
    Request members(request);
    try {
        body = co_await (this->**command)(members);
    } catch (const std::exception& error) {
        body = {{"ok", false}, {"error", error.what()}};
    } catch (...) {
        body = {{"ok", false}, {"error", "unknown error"}};
    }
    reply(id, std::move(body));
    for (const auto& event : members.followUps())
        Out::emit(event);
    --inFlight_;
}

asio::awaitable<Message> Server::ping(const Request&) {
    co_return Message{{"ok", true}};
}

asio::awaitable<Message> Server::permissions(const Request&) {
    // The checks talk to other services; they must not hold up the main loop.
    Message report = co_await MainLoop::offload(
        [] { return permissionReport(platform::integration().permissions()); });
    report["ok"] = true;
    co_return report;
}

asio::awaitable<void> Server::shutdown() {
    // A host that closes its input after its last request still expects that request's
    // reply, so requests still being answered get a bounded time to finish first.
    auto deadline = MainLoop::Clock::now() + shutdownGrace;
    while (inFlight_ > 0 && MainLoop::Clock::now() < deadline)
        co_await MainLoop::sleep(std::chrono::milliseconds(5));
    // A listening session commits what it still holds; a dictation session is left alone.
    if (auto session = transcriber) co_await session->stop();
    Out::flush();
    exitProcess(0);
    co_return;
}

// ---- Listening and dictation ----

asio::awaitable<Message> Server::listenStart(const Request& request) {
    std::string locale = request.string("locale", "en-US");
    auto old = transcriber;
    auto t = Transcriber::make(locale, true);
    t->onPartial = [](Speaker speaker, const std::string& text) {
        Out::emit({{"type", "partial"}, {"speaker", rawValue(speaker)}, {"text", text}});
    };
    t->onCommit = [](Speaker speaker, const std::string& text) {
        Out::emit({{"type", "commit"}, {"speaker", rawValue(speaker)}, {"text", text}});
    };
    t->onError = [](const std::string& message) {
        Out::emit({{"type", "error"}, {"message", message}});
    };
    transcriber = t; // before any wait, so that later commands see the newest session
    if (old) co_await old->stop();
    co_return co_await openSession(transcriber, t);
}

// Opens a session that already sits in `slot` and gives the start command's reply. A failed
// session is stopped and leaves the slot only if it still holds it: a newer one is kept.
asio::awaitable<Message> Server::openSession(std::shared_ptr<Transcriber>& slot,
                                             std::shared_ptr<Transcriber> session) {
    std::string failure;
    bool failed = false;
    try {
        co_await session->open();
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
    }
    if (failed) {
        co_await session->stop();
        if (slot == session) slot.reset();
        co_return Message{{"ok", false}, {"error", failure}};
    }
    // A stop or a newer start during open() may have missed what open() started after it.
    if (session->stopped()) co_await session->stop();
    co_return Message{{"ok", true}};
}

asio::awaitable<Message> Server::listenPause(const Request& request) {
    bool paused = request.boolean("paused", true);
    if (transcriber) transcriber->setPaused(paused);
    co_return Message{{"ok", true}};
}

asio::awaitable<Message> Server::listenStop(const Request& request) {
    auto t = std::move(transcriber);
    transcriber.reset();
    if (t) co_await t->stop();
    request.followReplyWith({{"type", "stopped"}});
    co_return Message{{"ok", true}};
}

void Server::throttleLevel(float level) {
    auto now = MainLoop::Clock::now();
    if (lastLevelAt != MainLoop::Clock::time_point::min() &&
        now - lastLevelAt <= std::chrono::milliseconds(60))
        return;
    lastLevelAt = now;
    Out::emit({{"type", "dictation.level"}, {"level", level}});
}

asio::awaitable<Message> Server::dictateStart(const Request& request) {
    std::string locale = request.string("locale", "en-US");
    auto old = dictation;
    auto d = Transcriber::make(locale, false);
    d->onPartial = [this](Speaker, const std::string& text) { dictationPartial = text; };
    d->onCommit = [this](Speaker, const std::string& text) {
        dictationText.push_back(text);
        dictationPartial.clear();
    };
    d->onError = [](const std::string& message) {
        Out::emit({{"type", "dictation.error"}, {"message", message}});
    };
    d->onLevel = [this](float level) { MainLoop::post([this, level] { throttleLevel(level); }); };
    dictation = d;
    if (old) co_await old->stop();
    co_await dictationStopsFinished();
    // Cleared only after the old session has stopped: what it committed while stopping is
    // not part of the new dictation.
    dictationText.clear();
    dictationPartial.clear();
    co_return co_await openSession(dictation, d);
}

asio::awaitable<void> Server::dictationStopsFinished() {
    while (dictationStopping_ > 0)
        co_await MainLoop::sleep(std::chrono::milliseconds(5));
}

asio::awaitable<Message> Server::dictateStop(const Request& request) {
    bool cancel = request.boolean("cancel", false);
    auto d = std::move(dictation);
    dictation.reset();
    if (d) {
        ++dictationStopping_;
        co_await d->stop(); // segments committed while stopping still count
        --dictationStopping_;
    } else {
        co_await dictationStopsFinished();
    }
    std::vector<std::string> segments = std::move(dictationText);
    if (!dictationPartial.empty()) segments.push_back(dictationPartial);
    dictationText.clear();
    dictationPartial.clear();
    std::string text;
    if (!cancel) {
        for (std::size_t i = 0; i < segments.size(); ++i)
            text += (i ? " " : "") + segments[i];
        text = SpeechText::trimmed(text);
    }
    co_return Message{{"ok", true}, {"text", text}};
}

void Server::run(int inputFd) {
    std::thread([this, inputFd] { readerLoop(inputFd); }).detach();
}

namespace {

struct TooDeep {};

// Requests are shallow; a line nested deeper than this is not one, and building it would
// cost memory and time out of all proportion (a line of ten million brackets).
constexpr int maxDepth = 256;

Message parseRequest(const std::string& line) {
    // A request is an object: anything else is skipped before the parser builds it.
    auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || line[first] != '{') return nullptr;
    try {
        return Message::parse(
            line,
            [](int depth, Message::parse_event_t, Message&) {
                if (depth > maxDepth) throw TooDeep{};
                return true;
            },
            false);
    } catch (const TooDeep&) {
        return nullptr;
    }
}

// Queues one line as a request when it is a JSON object; anything else is ignored.
void dispatchLine(Server& server, std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Message request = parseRequest(line);
    if (!request.is_object()) return;
    asio::post(MainLoop::context(), [&server, request = std::move(request)]() mutable {
        MainLoop::spawn(server.handle(std::move(request)));
    });
}

} // namespace

void Server::readerLoop(int fd) {
    std::string line;
    bool skipping = false; // inside an over-long line, dropping bytes up to its end
    char buffer[1 << 16];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        std::string_view chunk(buffer, static_cast<std::size_t>(count));
        while (!chunk.empty()) {
            auto end = chunk.find('\n');
            std::string_view piece = chunk.substr(0, end);
            if (!skipping) {
                if (line.size() + piece.size() > maxLineBytes) {
                    skipping = true;
                    line.clear();
                    line.shrink_to_fit();
                } else {
                    line.append(piece);
                }
            }
            if (end == std::string_view::npos) break;
            if (!skipping) dispatchLine(*this, line);
            line.clear();
            skipping = false;
            chunk.remove_prefix(end + 1);
        }
    }
    // A last line without a line feed still counts.
    if (!skipping && !line.empty()) dispatchLine(*this, line);
    asio::post(MainLoop::context(), [this] { MainLoop::spawn(shutdown()); });
}

} // namespace tarvine
