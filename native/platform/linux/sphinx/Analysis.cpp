#include "Analysis.h"

#include "Decoder.h"
#include "DecoderAudio.h"
#include "Models.h"
#include "base/HelperError.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace tarvine::adapters::sphinx {

namespace {

using namespace std::chrono_literals;

// How often a worker waiting for input looks at a cancellation or a finalisation.
constexpr auto inputPoll = 50ms;

PlatformError failure(const std::string& description) {
    return PlatformError("PocketSphinx", description);
}

// One decoder reads the whole input sequence on a worker thread of its own.
class Analyzer : public platform::SpeechAnalyzer {
public:
    explicit Analyzer(Model model) : model_(std::move(model)) {}
    // An analyzer dropped while it runs stops as if cancelled, rather than leave its worker.
    ~Analyzer() override { stop(cancelled_); }

    std::optional<AudioFormat> bestAvailableAudioFormat() override { return DecoderAudio::format; }

    void start(std::shared_ptr<platform::AnalyzerInputSequence> input,
               std::shared_ptr<platform::TranscriptionResults> results) override {
        if (!input || !results) throw failure("The analyzer needs an input and a results sequence");
        std::lock_guard guard(lock_);
        if (started_ || finished_)
            throw failure(started_ ? "The analyzer has already been started"
                                   : "The analyzer has already finished");
        started_ = true;
        results_ = results;
        // The model loads here, on the caller's worker, so that a failure reaches start().
        // The results end with it, so that nobody waits for them in vain.
        try {
            decoder_ = std::make_unique<Decoder>(model_);
        } catch (...) {
            results->finish();
            throw;
        }
        if (cancelled_) {
            results->finish();
            throw failure("The analyzer was cancelled while starting");
        }
        input_ = std::move(input);
        worker_ = std::thread([this] { run(); });
    }

    void finalizeAndFinishThroughEndOfInput() override {
        // Input that is still open ends once nothing more arrives, rather than never.
        stop(finalizing_);
        std::lock_guard guard(lock_);
        if (error_) std::rethrow_exception(error_);
    }

    void cancelAndFinishNow() override { stop(cancelled_); }

private:
    // Raises `flag` for the worker, waits for it and ends the results.
    void stop(std::atomic<bool>& flag) {
        flag = true;
        std::shared_ptr<platform::TranscriptionResults> results;
        {
            // Waits for a start in progress; none begins afterwards.
            std::lock_guard guard(lock_);
            finished_ = true;
            results = results_;
        }
        {
            std::lock_guard guard(joinLock_);
            if (worker_.joinable()) worker_.join();
        }
        if (results) results->finish();
    }

    void run() {
        auto emit = [this](Hypothesis hypothesis) {
            results_->yield({std::move(hypothesis.text), hypothesis.isFinal});
            return true;
        };
        try {
            DecoderAudio audio;
            std::vector<std::int16_t> samples;
            Utterances utterances(*decoder_, &cancelled_);
            while (!cancelled_) {
                bool timedOut = false;
                auto buffer = input_->next(inputPoll, timedOut);
                if (timedOut) {
                    if (finalizing_) break;
                    continue;
                }
                if (!buffer) break; // end of input
                if (!*buffer) continue;
                samples.clear();
                // A buffer that cannot be converted is skipped; the stream goes on.
                if (!audio.append(**buffer, samples)) continue;
                utterances.feed(samples, emit);
            }
            if (!cancelled_) {
                samples.clear();
                audio.drain(samples);
                utterances.feed(samples, emit);
                utterances.finish(emit);
            }
            results_->finish();
        } catch (const PlatformError&) {
            fail(std::current_exception());
        } catch (const std::exception& error) {
            fail(std::make_exception_ptr(failure(error.what())));
        }
    }

    void fail(std::exception_ptr error) {
        {
            std::lock_guard guard(lock_);
            error_ = error;
        }
        results_->fail(error);
    }

    const Model model_;
    std::mutex lock_; // guards the fields below, which start() sets
    bool started_ = false;
    bool finished_ = false;
    std::unique_ptr<Decoder> decoder_;
    std::shared_ptr<platform::AnalyzerInputSequence> input_;
    std::shared_ptr<platform::TranscriptionResults> results_;
    std::exception_ptr error_;

    std::mutex joinLock_;
    std::thread worker_; // set under lock_ by start(), joined under joinLock_
    std::atomic<bool> cancelled_ = false;
    std::atomic<bool> finalizing_ = false;
};

class Analysis : public platform::SpeechAnalysis {
public:
    std::optional<std::string> supportedLocale(const std::string& identifier) override {
        auto model = findModel(identifier);
        if (!model) return std::nullopt;
        return model->locale;
    }

    // Models come with the system's packages; one that is missing cannot be fetched here.
    bool needsAssetInstallation(const std::string& locale) override {
        return !findModel(locale).has_value();
    }

    void downloadAndInstall(const std::string& locale) override {
        throw failure("No speech model is installed for " + locale +
                      " and models are not downloaded at run time");
    }

    std::unique_ptr<platform::SpeechAnalyzer> makeAnalyzer(const std::string& locale) override {
        auto model = findModel(locale);
        if (!model) throw failure("No speech model is installed for " + locale);
        return std::make_unique<Analyzer>(std::move(*model));
    }
};

} // namespace

std::unique_ptr<platform::SpeechAnalysis> makeSpeechAnalysis() {
    return std::make_unique<Analysis>();
}

} // namespace tarvine::adapters::sphinx
