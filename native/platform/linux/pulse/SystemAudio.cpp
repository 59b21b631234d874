#include "SystemAudio.h"

namespace tarvine::adapters::pulse {
std::unique_ptr<platform::SystemAudioStream> makeSystemAudioStream() {
    return nullptr;
}
} // namespace tarvine::adapters::pulse
