#pragma once

#include "base/Events.h"
#include "base/MainLoop.h"
#include "base/Signal.h"
#include "server/CommandTable.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvine {

class Transcriber;

// "dictate.start", "dictate.stop": a microphone-only session whose text is collected quietly
// and returned by the stop, with a throttled sound level sent while the user speaks.
class DictationCommands {
public:
    static constexpr auto levelInterval = std::chrono::milliseconds(60);

    explicit DictationCommands(Events& events);

    void registerIn(CommandTable& table);

    // Main loop only; the session's callbacks hold this state weakly.
    struct State {
        std::shared_ptr<Transcriber> dictation;
        std::vector<std::string> dictationText;
        std::string dictationPartial;
        MainLoop::Clock::time_point lastLevelAt = MainLoop::Clock::time_point::min();
        // "dictate.stop" requests still waiting for their session to stop. Their text is
        // taken only once the stop is over, so a "dictate.start" (which clears the text) or a
        // second "dictate.stop" (which takes it) arriving meanwhile waits for them first.
        int stopping = 0;
        Signal stopFinished;
    };
    State& state() { return *state_; }

private:
    asio::awaitable<Reply> start(const Request& request);
    asio::awaitable<Reply> stop(const Request& request);
    asio::awaitable<void> stopsFinished();
    // Emits a level unless one went out less than 60 ms ago.
    void throttleLevel(float level);

    Events& events_;
    std::shared_ptr<State> state_;
};

} // namespace tarvine
