#pragma once

#include "platform/AudioEngine.h"

#include <memory>

namespace tarvine::adapters::pulse {

// A record stream on the default PulseAudio source, in the source's own sample format.
std::unique_ptr<platform::AudioEngine> makeAudioEngine();

} // namespace tarvine::adapters::pulse
