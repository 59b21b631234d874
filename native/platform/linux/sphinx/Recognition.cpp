#include "Recognition.h"

namespace tarvine::adapters::sphinx {
std::unique_ptr<platform::SpeechRecognition> makeSpeechRecognition() {
    return nullptr;
}
} // namespace tarvine::adapters::sphinx
