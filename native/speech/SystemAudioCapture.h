#pragma once

#include "base/Audio.h"
#include "base/Events.h"
#include "base/MainLoop.h"
#include "platform/SystemAudio.h"

#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tarvine {

// Records what the computer plays (mono, 48000 Hz, 32-bit float) and hands each block to a
// sink on the stream's serial thread "tarvine.system-audio". A stream that ends by itself
// (the sound server restarted, the output went away) is started again, once a second for a
// while, as the microphone capture does.
class SystemAudioCapture {
public:
    // Attempts after the stream ended: the first plus ten retries, one second apart.
    static constexpr std::int64_t maxRetries = 10;
    static constexpr auto retryDelay = std::chrono::seconds(1);

    explicit SystemAudioCapture(Events& events);
    ~SystemAudioCapture();
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Set by the owner before start(); any thread.
    void setSink(AudioSink sink);

    // Told on the main loop, with the localized description of the last failure, when the
    // capture gives up starting its stream again. Set by the owner before start().
    std::function<void(const std::string&)> onGiveUp;

    // Main thread. Throws HelperError("No display") when there is nothing to capture, or the
    // platform's error unchanged; the capture then keeps its earlier stream (none).
    asio::awaitable<void> start();
    // Main thread; returns at once. Once it returns the sink is never called again, and no
    // restart is attempted any more.
    void stop();

    bool capturing() const { return stream_ != nullptr; }
    std::int64_t retries() const { return retries_; }

private:
    // Shared with the stream's callbacks, which may outlive this object by a little while
    // the stream winds down.
    struct Delivery {
        // Held while the sink runs, so that stop() can promise that no call is under way
        // once it returns. Recursive so that a sink may stop the capture itself.
        std::recursive_mutex lock;
        AudioSink sink;
    };

    // Starts a new stream, whose end is recognised by the generation current now.
    asio::awaitable<std::shared_ptr<platform::SystemAudioStream>> startStream();
    void streamEnded(std::uint64_t generation);
    asio::awaitable<void> restart(std::uint64_t generation);
    void scheduleRetry(std::uint64_t generation);

    Events& events_;
    std::shared_ptr<Delivery> delivery_;
    std::shared_ptr<platform::SystemAudioStream> stream_;

    // Main loop only. A stop, or a stream that ended, moves the generation on; callbacks and
    // retries of an older one do nothing. Jobs hold `alive_` weakly, as the capture may be
    // gone when they run.
    std::uint64_t generation_ = 0;
    std::int64_t retries_ = 0;
    MainLoop::Timer retryTimer_;
    std::shared_ptr<SystemAudioCapture*> alive_;
};

} // namespace tarvine
