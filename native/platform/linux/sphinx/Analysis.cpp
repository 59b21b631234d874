#include "Analysis.h"

namespace tarvine::adapters::sphinx {
std::unique_ptr<platform::SpeechAnalysis> makeSpeechAnalysis() {
    return nullptr;
}
} // namespace tarvine::adapters::sphinx
