#include "FakeSpeech.h"

#include <chrono>

namespace tarvine::fakes {

void FakeRecognitionRequest::append(const PcmBuffer&) {
    std::lock_guard guard(lock_);
    ++buffers_;
}

void FakeRecognitionRequest::endAudio() {
    std::lock_guard guard(lock_);
    ended_ = true;
}

std::int64_t FakeRecognitionRequest::buffers() {
    std::lock_guard guard(lock_);
    return buffers_;
}

bool FakeRecognitionRequest::ended() {
    std::lock_guard guard(lock_);
    return ended_;
}

namespace {

class FakeRecognizer : public platform::SpeechRecognizer {
public:
    explicit FakeRecognizer(FakeRecognition& owner) : owner_(owner) { ++owner_.recognizersAlive; }
    ~FakeRecognizer() override { --owner_.recognizersAlive; }

    bool isAvailable() override { return owner_.available; }
    bool supportsOnDeviceRecognition() override { return owner_.onDevice; }

    std::shared_ptr<platform::RecognitionRequest>
    makeRequest(const platform::RecognitionRequestOptions& options) override {
        if (owner_.requestError) std::rethrow_exception(owner_.requestError);
        return std::make_shared<FakeRecognitionRequest>(options);
    }

    std::shared_ptr<platform::RecognitionTask>
    recognitionTask(std::shared_ptr<platform::RecognitionRequest> request,
                    platform::RecognitionHandler handler) override {
        auto task = std::make_shared<FakeRecognitionTask>(
            std::static_pointer_cast<FakeRecognitionRequest>(request), std::move(handler));
        owner_.tasks.push_back(task);
        return task;
    }

private:
    FakeRecognition& owner_;
};

} // namespace

std::unique_ptr<platform::SpeechRecognizer> FakeRecognition::makeRecognizer(const std::string&) {
    if (!hasRecognizer) return nullptr;
    return std::make_unique<FakeRecognizer>(*this);
}

class FakeSpeechAnalyzer : public platform::SpeechAnalyzer {
public:
    explicit FakeSpeechAnalyzer(FakeAnalysis& owner) : owner_(owner) { ++owner_.analyzersAlive; }
    ~FakeSpeechAnalyzer() override { --owner_.analyzersAlive; }

    std::optional<AudioFormat> bestAvailableAudioFormat() override { return owner_.bestFormat; }

    void start(std::shared_ptr<platform::AnalyzerInputSequence> input,
               std::shared_ptr<platform::TranscriptionResults> results) override {
        results_ = results;
        {
            std::lock_guard guard(owner_.lock_);
            owner_.input_ = std::move(input);
            owner_.results_ = std::move(results);
        }
        if (owner_.startError) std::rethrow_exception(owner_.startError);
    }

    void finalizeAndFinishThroughEndOfInput() override {
        ++owner_.finalizes;
        if (owner_.finalizeError) std::rethrow_exception(owner_.finalizeError);
        if (!results_) return;
        if (owner_.resultsErrorOnFinalize)
            results_->fail(owner_.resultsErrorOnFinalize);
        else
            results_->finish();
    }

    void cancelAndFinishNow() override {
        ++owner_.cancels;
        if (results_) results_->finish();
    }

private:
    FakeAnalysis& owner_;
    // Its own results: another analyzer may have started since.
    std::shared_ptr<platform::TranscriptionResults> results_;
};

std::optional<std::string> FakeAnalysis::supportedLocale(const std::string& identifier) {
    std::lock_guard guard(lock_);
    requested_ = identifier;
    return supported;
}

void FakeAnalysis::downloadAndInstall(const std::string&) {
    ++installs;
    if (installError) std::rethrow_exception(installError);
}

std::unique_ptr<platform::SpeechAnalyzer> FakeAnalysis::makeAnalyzer(const std::string&) {
    ++analyzersMade;
    return std::make_unique<FakeSpeechAnalyzer>(*this);
}

std::shared_ptr<platform::AnalyzerInputSequence> FakeAnalysis::input() {
    std::lock_guard guard(lock_);
    return input_;
}

std::shared_ptr<platform::TranscriptionResults> FakeAnalysis::results() {
    std::lock_guard guard(lock_);
    return results_;
}

std::vector<PcmBufferRef> FakeAnalysis::received() {
    std::vector<PcmBufferRef> buffers;
    auto sequence = input();
    if (!sequence) return buffers;
    while (sequence->pendingCount() > 0) {
        bool timedOut = false;
        auto next = sequence->next(std::chrono::milliseconds(0), timedOut);
        if (!next) break;
        buffers.push_back(*next);
    }
    return buffers;
}

std::string FakeAnalysis::requested() {
    std::lock_guard guard(lock_);
    return requested_;
}

} // namespace tarvine::fakes
