#pragma once

#include "base/Audio.h"

#include <functional>
#include <string>

namespace tarvine::platform {

// A capture of what the computer plays (every output but this process's own), delivered as
// mono 32-bit float at 48000 Hz on one serial thread of the stream ("tarvine.system-audio").
class SystemAudioStream {
public:
    virtual ~SystemAudioStream() = default;

    // Starts capturing and returns once capture runs (it may block for a bounded time).
    // `output` receives each non-empty buffer on the stream's thread, one after the other;
    // `stoppedWithError` is told, on any thread, when the stream ends by itself, with the
    // platform's full description of why. Throws HelperError("No display") when there is
    // nothing to capture, PlatformError when capture is refused.
    virtual void start(AudioSink output,
                       std::function<void(const std::string&)> stoppedWithError) = 0;

    // Returns at once; the stream winds down in the background and delivers nothing more.
    virtual void stop() = 0;
};

} // namespace tarvine::platform
