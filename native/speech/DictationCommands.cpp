#include "speech/DictationCommands.h"

#include "speech/SessionSlot.h"
#include "speech/SpeechText.h"
#include "speech/Transcriber.h"

namespace tarvine {

DictationCommands::DictationCommands(Events& events)
    : events_(events), state_(std::make_shared<State>()) {}

void DictationCommands::registerIn(CommandTable& table) {
    table.add("dictate.start", [this](const Request& r) { return start(r); });
    table.add("dictate.stop", [this](const Request& r) { return stop(r); });
}

void DictationCommands::throttleLevel(float level) {
    auto now = MainLoop::Clock::now();
    if (state_->lastLevelAt != MainLoop::Clock::time_point::min() &&
        now - state_->lastLevelAt <= levelInterval)
        return;
    state_->lastLevelAt = now;
    events_.emit({{"type", "dictation.level"}, {"level", level}});
}

asio::awaitable<Reply> DictationCommands::start(const Request& request) {
    std::string locale = request.string("locale", "en-US");
    State& state = *state_;
    auto old = state.dictation;
    auto d = Transcriber::make(locale, false, events_);
    std::weak_ptr<State> weak = state_;
    d->onPartial = [weak](Speaker, const std::string& text) {
        if (auto held = weak.lock()) held->dictationPartial = text;
    };
    d->onCommit = [weak](Speaker, const std::string& text) {
        if (auto held = weak.lock()) {
            held->dictationText.push_back(text);
            held->dictationPartial.clear();
        }
    };
    Events& events = events_;
    d->onError = [&events](const std::string& message) {
        events.emit({{"type", "dictation.error"}, {"message", message}});
    };
    // The level arrives on the capture thread; the throttle runs on the main loop.
    d->onLevel = [this, weak](float level) {
        MainLoop::post([this, weak, level] {
            if (weak.lock()) throttleLevel(level);
        });
    };
    state.dictation = d;
    if (old) co_await old->stop();
    co_await stopsFinished();
    // Cleared only after the old session has stopped: what it committed while stopping is
    // not part of the new dictation.
    state.dictationText.clear();
    state.dictationPartial.clear();
    co_return co_await openInSlot(state.dictation, d);
}

asio::awaitable<void> DictationCommands::stopsFinished() {
    while (state_->stopping > 0)
        co_await state_->stopFinished.wait();
}

asio::awaitable<Reply> DictationCommands::stop(const Request& request) {
    bool cancel = request.boolean("cancel", false);
    State& state = *state_;
    auto d = std::exchange(state.dictation, nullptr);
    if (d) {
        ++state.stopping;
        co_await d->stop(); // segments committed while stopping still count
        --state.stopping;
        state.stopFinished.notify();
    } else {
        co_await stopsFinished();
    }
    std::vector<std::string> segments = std::exchange(state.dictationText, {});
    if (!state.dictationPartial.empty()) segments.push_back(state.dictationPartial);
    state.dictationPartial.clear();
    std::string text;
    if (!cancel) {
        for (std::size_t i = 0; i < segments.size(); ++i)
            text += (i ? " " : "") + segments[i];
        text = SpeechText::trimmed(text);
    }
    co_return Message{{"ok", true}, {"text", text}};
}

} // namespace tarvine
