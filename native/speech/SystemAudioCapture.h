#pragma once

#include "base/Audio.h"
#include "base/Events.h"
#include "platform/SystemAudio.h"

#include <asio/awaitable.hpp>
#include <memory>
#include <mutex>

namespace tarvine {

// Records what the computer plays (mono, 48000 Hz, 32-bit float) and hands each block to a
// sink on the stream's serial thread "tarvine.system-audio".
class SystemAudioCapture {
public:
    explicit SystemAudioCapture(Events& events);
    ~SystemAudioCapture();
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Set by the owner before start(); any thread.
    void setSink(AudioSink sink);

    // Main thread. Throws HelperError("No display") when there is nothing to capture, or the
    // platform's error unchanged; the capture then keeps its earlier stream (none).
    asio::awaitable<void> start();
    // Main thread; returns at once. Once it returns the sink is never called again.
    void stop();

    bool capturing() const { return stream_ != nullptr; }

private:
    // Shared with the stream's callbacks, which may outlive this object by a little while
    // the stream winds down.
    struct Delivery {
        // Held while the sink runs, so that stop() can promise that no call is under way
        // once it returns. Recursive so that a sink may stop the capture itself.
        std::recursive_mutex lock;
        AudioSink sink;
    };

    Events& events_;
    std::shared_ptr<Delivery> delivery_;
    std::shared_ptr<platform::SystemAudioStream> stream_;
};

} // namespace tarvine
