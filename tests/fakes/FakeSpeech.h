#pragma once

#include "base/HelperError.h"
#include "platform/SpeechAnalyzer.h"
#include "platform/SpeechRecognizer.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvine::fakes {

// --- The older recognizer -------------------------------------------------------------------

class FakeRecognitionRequest : public platform::RecognitionRequest {
public:
    explicit FakeRecognitionRequest(platform::RecognitionRequestOptions requested)
        : options(requested) {}

    const platform::RecognitionRequestOptions options;

    void append(const PcmBuffer& buffer) override;
    void endAudio() override;

    std::int64_t buffers();
    bool ended();

private:
    std::mutex lock_;
    std::int64_t buffers_ = 0;
    bool ended_ = false;
};

class FakeRecognitionTask : public platform::RecognitionTask {
public:
    FakeRecognitionTask(std::shared_ptr<FakeRecognitionRequest> forRequest,
                        platform::RecognitionHandler resultHandler)
        : request(std::move(forRequest)), handler(std::move(resultHandler)) {}

    const std::shared_ptr<FakeRecognitionRequest> request;
    const platform::RecognitionHandler handler;
    std::atomic<bool> cancelled{false};

    void cancel() override { cancelled = true; }

    // Calls the handler as the engine's thread would.
    void partial(const std::string& text) { handler(platform::RecognitionResult{text, false}, {}); }
    void final(const std::string& text) { handler(platform::RecognitionResult{text, true}, {}); }
    void fail(const std::string& domain, std::int64_t code, const std::string& description) {
        handler(std::nullopt, platform::RecognitionError{domain, code, description});
    }
};

// Tasks are created on the main loop only, so tests read `tasks` there without locking.
class FakeRecognition : public platform::SpeechRecognition {
public:
    bool hasRecognizer = true;
    bool available = true;
    bool onDevice = true;
    bool authorized = true;
    // When set, makeRequest throws it.
    std::exception_ptr requestError;

    std::vector<std::shared_ptr<FakeRecognitionTask>> tasks;
    // Recognizers made and not yet destroyed.
    std::atomic<int> recognizersAlive{0};

    std::unique_ptr<platform::SpeechRecognizer> makeRecognizer(const std::string& locale) override;
    bool requestAuthorization() override { return authorized; }
};

// --- The analyzer engine --------------------------------------------------------------------

// One analyzer at a time: tests push results into `results` once the stream has started, and
// read what the engine received from `input`.
class FakeAnalysis : public platform::SpeechAnalysis {
public:
    std::optional<std::string> supported = "en-US";
    bool needsInstall = false;
    std::exception_ptr installError;
    std::exception_ptr startError;
    std::exception_ptr finalizeError;
    // When set, finalizing fails the results with it instead of finishing them.
    std::exception_ptr resultsErrorOnFinalize;
    std::optional<AudioFormat> bestFormat = AudioFormat{16000, 1, CommonFormat::pcmFloat32, false};

    std::atomic<int> analyzersMade{0};
    std::atomic<int> installs{0};
    std::atomic<int> finalizes{0};
    std::atomic<int> cancels{0};
    // Analyzers made and not yet destroyed.
    std::atomic<int> analyzersAlive{0};

    std::optional<std::string> supportedLocale(const std::string& identifier) override;
    bool needsAssetInstallation(const std::string&) override { return needsInstall; }
    void downloadAndInstall(const std::string& locale) override;
    std::unique_ptr<platform::SpeechAnalyzer> makeAnalyzer(const std::string& locale) override;

    std::shared_ptr<platform::AnalyzerInputSequence> input();
    std::shared_ptr<platform::TranscriptionResults> results();
    // Takes every input pending now.
    std::vector<PcmBufferRef> received();
    std::string requested();

    void deliver(const std::string& text, bool isFinal) { results()->yield({text, isFinal}); }
    void failResults(const std::string& description) {
        results()->fail(std::make_exception_ptr(PlatformError("FakeAnalyzer", description)));
    }

private:
    friend class FakeSpeechAnalyzer;
    std::mutex lock_;
    std::string requested_;
    std::shared_ptr<platform::AnalyzerInputSequence> input_;
    std::shared_ptr<platform::TranscriptionResults> results_;
};

} // namespace tarvine::fakes
