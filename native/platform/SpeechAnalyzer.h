#pragma once

#include "base/Audio.h"
#include "base/Sequence.h"

#include <memory>
#include <optional>
#include <string>

namespace tarvine::platform {

// The newer speech engine: an analyzer with one transcriber module reads a continuous input
// sequence of audio and produces volatile results while speech goes on and a final result
// for each segment.

struct TranscriptionResult {
    std::string text;
    bool isFinal = false;
};

using AnalyzerInputSequence = Sequence<PcmBufferRef>;
using TranscriptionResults = Sequence<TranscriptionResult>;

class SpeechAnalyzer {
public:
    virtual ~SpeechAnalyzer() = default;

    // The format the engine works best with, or none.
    virtual std::optional<AudioFormat> bestAvailableAudioFormat() = 0;

    // Starts analysing `input` in the background and returns. Results go to `results` in
    // order; `results` is finished after the engine has finished, or failed with the
    // engine's error. Throws when the analyzer cannot start.
    virtual void start(std::shared_ptr<AnalyzerInputSequence> input,
                       std::shared_ptr<TranscriptionResults> results) = 0;

    // Waits until the (already finished) input is analysed, finalises every result and ends
    // the results. Throws on failure.
    virtual void finalizeAndFinishThroughEndOfInput() = 0;
    // Stops at once and ends the results.
    virtual void cancelAndFinishNow() = 0;
};

class SpeechAnalysis {
public:
    virtual ~SpeechAnalysis() = default;

    // The supported locale equivalent to `identifier`, or none.
    virtual std::optional<std::string> supportedLocale(const std::string& identifier) = 0;
    // True when the model for the locale must be installed first; installing blocks and
    // throws on failure.
    virtual bool needsAssetInstallation(const std::string& locale) = 0;
    virtual void downloadAndInstall(const std::string& locale) = 0;

    // An analyzer whose transcriber reports volatile results for `locale` (a supported one).
    virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const std::string& locale) = 0;
};

} // namespace tarvine::platform
