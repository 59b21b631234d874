#pragma once

#include "base/Audio.h"

#include <cstdint>
#include <functional>

namespace tarvine::platform {

// The capture engine of the default audio input device, in the device's own format. One
// engine per microphone capture; all calls except the tap's deliveries happen on the main
// thread.
class AudioEngine {
public:
    virtual ~AudioEngine() = default;

    // The default input's format; a sample rate of 0 or no channels when there is no usable
    // input device.
    virtual AudioFormat inputFormat() = 0;

    // Arranges for blocks of `bufferSize` frames in `format` to reach `tap` on the capture
    // thread once the engine runs. Replaces an earlier tap.
    virtual void installTap(std::uint32_t bufferSize, const AudioFormat& format, AudioSink tap) = 0;
    // Stops deliveries to the tap; once it returns the tap is no longer called.
    virtual void removeTap() = 0;

    virtual void prepare() = 0;
    // Throws PlatformError when capture cannot start.
    virtual void start() = 0;
    virtual void stop() = 0;

    // `handler` runs on the main thread whenever the input configuration changes (the default
    // input switched, or the device in use went away). An empty handler stops observing.
    virtual void observeConfigurationChanges(std::function<void()> handler) = 0;
};

} // namespace tarvine::platform
