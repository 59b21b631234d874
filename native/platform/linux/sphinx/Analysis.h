#pragma once

#include "platform/SpeechAnalyzer.h"

#include <memory>

namespace tarvine::adapters::sphinx {

// The analyzer engine on PocketSphinx: continuous input, voice-activity segmentation.
std::unique_ptr<platform::SpeechAnalysis> makeSpeechAnalysis();

} // namespace tarvine::adapters::sphinx
