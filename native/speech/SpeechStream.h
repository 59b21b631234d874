#pragma once

#include "base/Audio.h"
#include "base/Events.h"
#include "base/MainLoop.h"
#include "platform/SpeechRecognizer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarvine {

// The holder through which audio threads reach the current recognition request. Rotation
// swaps the request under `lock`, so a request never receives audio after it was taken out.
class RequestBox {
public:
    explicit RequestBox(Events& sink) : events(sink) {}

    Events& events; // the "audio buffers=" lines
    std::mutex lock;
    std::shared_ptr<platform::RecognitionRequest> request; // guarded by lock
    bool _paused = false;                                  // guarded by lock
    std::int64_t count = 0;                                // guarded by lock; never reset

    // Offers one buffer to the current request; any thread. Counted even when it is dropped
    // (paused, or between requests).
    void append(const PcmBufferRef& buffer);
    void append(const PcmBuffer& buffer);
};

// One live channel ("Me" or "Them") on the older recognizer: one recognition task per
// utterance, rotated on a final result, after 1.4 s without a new partial, after 45 s at the
// latest, and 1 s after a task failed without a result. Owned by a std::shared_ptr; lives on
// the main loop, except `requestBox`, which audio threads feed.
class SpeechStream : public std::enable_shared_from_this<SpeechStream> {
public:
    static constexpr MainLoop::Clock::duration silenceDelay = std::chrono::milliseconds(1400);
    static constexpr MainLoop::Clock::duration maxTaskLife = std::chrono::seconds(45);
    static constexpr MainLoop::Clock::duration retryDelay = std::chrono::seconds(1);

    // The recognizer comes from the installed platform's older speech engine, if any.
    SpeechStream(const std::string& locale, const std::string& name, Events& events);
    ~SpeechStream();
    SpeechStream(const SpeechStream&) = delete;
    SpeechStream& operator=(const SpeechStream&) = delete;

    static std::shared_ptr<SpeechStream> make(const std::string& locale, const std::string& name,
                                              Events& events) {
        return std::make_shared<SpeechStream>(locale, name, events);
    }

    // Set by the owner right after creation; called on the main loop.
    std::function<void(const std::string&)> onPartial;
    std::function<void(const std::string&)> onCommit;

    RequestBox requestBox;
    // Only while true does a rotation start a new task; the owner sets it.
    bool running = false;

    // Ends the current utterance and task (committing what is pending, then clearing the
    // partial) and starts a new task when running. Main loop.
    void rotate();
    // Stops the silence and max timers; the owner calls it after the final rotation.
    void invalidateTimers();

    const std::string& name() const { return name_; }
    std::int64_t generation() const { return generation_; }

private:
    using Timer = MainLoop::Timer;

    void armSilenceTimer();
    void startTask(std::int64_t generation);
    void handleResult(std::int64_t generation, std::optional<std::string> text, bool isFinal,
                      bool hadResult, std::optional<platform::RecognitionError> error);
    void scheduleRetry(std::int64_t generation);
    std::shared_ptr<Timer> schedule(MainLoop::Clock::duration delay,
                                    std::function<void(SpeechStream&)> action);

    std::unique_ptr<platform::SpeechRecognizer> recognizer;
    std::shared_ptr<platform::RecognitionTask> task;
    std::int64_t generation_ = 0;
    std::string lastPartial;
    std::shared_ptr<Timer> silenceTimer;
    std::shared_ptr<Timer> maxTimer;
    std::string name_;
    Events& events_;
};

} // namespace tarvine
