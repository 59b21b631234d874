#pragma once

#include "platform/SpeechRecognizer.h"

#include <memory>

namespace tarvine::adapters::sphinx {

// The older speech engine on PocketSphinx.
std::unique_ptr<platform::SpeechRecognition> makeSpeechRecognition();

} // namespace tarvine::adapters::sphinx
