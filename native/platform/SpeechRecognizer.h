#pragma once

#include "base/Audio.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvine::platform {

// The older speech engine: recognition tasks over audio-buffer requests, each task one
// utterance, with partial results as the hypothesis grows.

struct RecognitionResult {
    std::string formattedString; // the best transcription so far
    bool isFinal = false;
};

struct RecognitionError {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
};

struct RecognitionRequestOptions {
    bool shouldReportPartialResults = true;
    bool addsPunctuation = true;
    bool requiresOnDeviceRecognition = false;
    // The task hint is always dictation.
};

class RecognitionRequest {
public:
    virtual ~RecognitionRequest() = default;
    // Audio for the request; any thread, in any format the capture delivers.
    virtual void append(const PcmBuffer& buffer) = 0;
    // No more audio will come; the task finishes the utterance and ends with a final result.
    virtual void endAudio() = 0;
};

class RecognitionTask {
public:
    virtual ~RecognitionTask() = default;
    // Ends the task at once; its handler may still be called (callers ignore late calls).
    virtual void cancel() = 0;
};

// Called on a thread of the engine's with a result, an error, or both.
using RecognitionHandler =
    std::function<void(std::optional<RecognitionResult>, std::optional<RecognitionError>)>;

class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;

    virtual bool isAvailable() = 0;
    virtual bool supportsOnDeviceRecognition() = 0;

    virtual std::shared_ptr<RecognitionRequest>
    makeRequest(const RecognitionRequestOptions& options) = 0;
    virtual std::shared_ptr<RecognitionTask>
    recognitionTask(std::shared_ptr<RecognitionRequest> request, RecognitionHandler handler) = 0;
};

class SpeechRecognition {
public:
    virtual ~SpeechRecognition() = default;

    // The recognizer for a locale identifier ("en-US"), or null when there is none.
    virtual std::unique_ptr<SpeechRecognizer> makeRecognizer(const std::string& locale) = 0;
    // Asks for speech recognition authorization and waits for the answer (may block);
    // true only when authorized.
    virtual bool requestAuthorization() = 0;
};

} // namespace tarvine::platform
