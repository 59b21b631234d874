#include "AudioEngine.h"

namespace tarvine::adapters::pulse {
std::unique_ptr<platform::AudioEngine> makeAudioEngine() {
    return nullptr;
}
} // namespace tarvine::adapters::pulse
