#pragma once

#include "platform/Platform.h"

#include <memory>

namespace tarvine::adapters {

// The Linux desktop's answers to the ports: X11, PulseAudio and AT-SPI.
std::unique_ptr<platform::Integration> makeIntegration();

} // namespace tarvine::adapters
