#pragma once

#include "base/Audio.h"
#include "base/Events.h"
#include "base/MainLoop.h"
#include "platform/AudioEngine.h"

#include <cstdint>
#include <memory>

namespace tarvine {

// Captures the default input device and hands every 2048-frame block, in the device's own
// format, to a sink. Rebuilds itself when the input configuration changes, retrying once a
// second for a while when the input is not usable yet.
//
// The notification handler and the scheduled retries refer to the capture weakly, so it
// must be owned by a shared_ptr: make one with make().
class MicCapture : public std::enable_shared_from_this<MicCapture> {
public:
    static std::shared_ptr<MicCapture> make(Events& events);

    MicCapture(const MicCapture&) = delete;
    MicCapture& operator=(const MicCapture&) = delete;

    // Main thread. Throws HelperError("No microphone.") or the engine's PlatformError; on
    // failure the capture is left stopped.
    void start(AudioSink sink);
    // Main thread; does nothing when not running.
    void stop();

    bool running() const { return running_; }
    std::int64_t retries() const { return retries_; }

private:
    explicit MicCapture(Events& events);

    void open();
    void restart();
    void removeTapAndStop();
    void scheduleRetry();

    Events& events_; // the restart lines
    // Null when the platform has no audio input at all; every start then finds no microphone.
    std::unique_ptr<platform::AudioEngine> engine_;
    bool running_ = false;
    AudioSink sink_;
    bool observing_ = false;
    std::int64_t retries_ = 0;

    // One pending retry at most: a configuration change while a retry is pending replaces it,
    // so that two chains of attempts never interleave.
    MainLoop::Timer retryTimer_;
    std::uint64_t retryGeneration_ = 0;
};

} // namespace tarvine
