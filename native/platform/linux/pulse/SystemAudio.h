#pragma once

#include "platform/SystemAudio.h"

#include <memory>

namespace tarvine::adapters::pulse {

// A record stream on the monitor of the default PulseAudio sink.
std::unique_ptr<platform::SystemAudioStream> makeSystemAudioStream();

} // namespace tarvine::adapters::pulse
