#include "speech/ListenCommands.h"

#include "speech/SessionSlot.h"
#include "speech/Transcriber.h"

#include <utility>

namespace tarvine {

void ListenCommands::registerIn(CommandTable& table) {
    table.add("listen.start", [this](const Request& r) { return start(r); });
    table.add("listen.pause", [this](const Request& r) { return pause(r); });
    table.add("listen.stop", [this](const Request& r) { return stop(r); });
    table.atEndOfInput([this] { return endOfInput(); });
}

asio::awaitable<Reply> ListenCommands::start(const Request& request) {
    std::string locale = request.string("locale", "en-US");
    auto old = transcriber_;
    auto t = Transcriber::make(locale, true, events_);
    Events& events = events_;
    t->onPartial = [&events](Speaker speaker, const std::string& text) {
        events.emit({{"type", "partial"}, {"speaker", rawValue(speaker)}, {"text", text}});
    };
    t->onCommit = [&events](Speaker speaker, const std::string& text) {
        events.emit({{"type", "commit"}, {"speaker", rawValue(speaker)}, {"text", text}});
    };
    t->onError = [&events](const std::string& message) {
        events.emit({{"type", "error"}, {"message", message}});
    };
    transcriber_ = t; // before any wait, so that later commands see the newest session
    if (old) co_await old->stop();
    co_return co_await openInSlot(transcriber_, t);
}

asio::awaitable<Reply> ListenCommands::pause(const Request& request) {
    bool paused = request.boolean("paused", true);
    if (transcriber_) transcriber_->setPaused(paused);
    co_return Message{{"ok", true}};
}

asio::awaitable<Reply> ListenCommands::stop(const Request&) {
    auto t = std::exchange(transcriber_, nullptr);
    if (t) co_await t->stop();
    co_return Reply{Message{{"ok", true}}, {Message{{"type", "stopped"}}}};
}

// A listening session commits what it still holds before the process ends.
asio::awaitable<void> ListenCommands::endOfInput() {
    if (auto session = transcriber_) co_await session->stop();
}

} // namespace tarvine
