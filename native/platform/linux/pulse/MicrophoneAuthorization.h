#pragma once

#include <chrono>

namespace tarvine::adapters::pulse {

// The microphone may be recorded when the sound server is reachable and offers an input
// source (a device, not the monitor of an output).
bool microphoneAvailable(std::chrono::milliseconds limit);

} // namespace tarvine::adapters::pulse
