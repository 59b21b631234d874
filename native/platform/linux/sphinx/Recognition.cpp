#include "Recognition.h"

#include "Decoder.h"
#include "DecoderAudio.h"
#include "Models.h"
#include "base/HelperError.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvine::adapters::sphinx {

namespace {

using namespace std::chrono_literals;
using platform::RecognitionError;
using platform::RecognitionResult;

constexpr const char* errorDomain = "PocketSphinx";
enum ErrorCode : std::int64_t { engineFailure = 1, canceled = 301, foreignRequest = 2 };

// A request keeps at most this much audio that no task has taken yet (a minute at 16 kHz);
// the oldest goes first, so a request that no task reads cannot grow without bound.
constexpr std::size_t maxPendingSamples = 60 * 16000;

// How long a new task waits for a decoder that an ending task is giving back before it
// loads another one.
constexpr auto decoderReturnWait = 1s;

// Decoders of one locale, loaded once and lent to one task at a time, so that a rotation of
// tasks does not reload the model.
class DecoderPool {
public:
    explicit DecoderPool(Model model) : model_(std::move(model)) {}

    // Throws PlatformError when a decoder has to be loaded and cannot be.
    std::unique_ptr<Decoder> acquire(const std::atomic<bool>& cancelled) {
        {
            std::unique_lock guard(lock_);
            const auto deadline = std::chrono::steady_clock::now() + decoderReturnWait;
            while (idle_.empty() && lent_ > 0 && !cancelled &&
                   std::chrono::steady_clock::now() < deadline)
                returned_.wait_for(guard, 50ms);
            if (cancelled) return nullptr;
            ++lent_;
            if (!idle_.empty()) {
                auto decoder = std::move(idle_.back());
                idle_.pop_back();
                return decoder;
            }
        }
        try {
            return std::make_unique<Decoder>(model_);
        } catch (...) {
            std::lock_guard guard(lock_);
            --lent_;
            throw;
        }
    }

    void release(std::unique_ptr<Decoder> decoder) {
        std::unique_ptr<Decoder> surplus;
        {
            std::lock_guard guard(lock_);
            --lent_;
            // One idle decoder is enough for tasks that follow each other.
            if (decoder && idle_.empty())
                idle_.push_back(std::move(decoder));
            else
                surplus = std::move(decoder);
        }
        returned_.notify_all();
    }

private:
    const Model model_;
    std::mutex lock_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Decoder>> idle_;
    int lent_ = 0;
};

class Request : public platform::RecognitionRequest {
public:
    explicit Request(const platform::RecognitionRequestOptions& options)
        : reportsPartials_(options.shouldReportPartialResults) {}

    // Converts at once: the capture's buffer is only borrowed for the call.
    void append(const PcmBuffer& buffer) override {
        {
            std::lock_guard guard(lock_);
            if (ended_) return;
            if (!audio_.append(buffer, pending_)) return; // unreadable buffers are skipped
            if (pending_.size() > maxPendingSamples)
                pending_.erase(pending_.begin(),
                               pending_.begin() + static_cast<std::ptrdiff_t>(pending_.size() -
                                                                              maxPendingSamples));
        }
        changed_.notify_all();
    }

    void endAudio() override {
        {
            std::lock_guard guard(lock_);
            if (ended_) return;
            ended_ = true;
            audio_.drain(pending_);
        }
        changed_.notify_all();
    }

    bool reportsPartials() const { return reportsPartials_; }

    enum class Take { samples, ended, cancelled };

    // Waits for audio, the end of audio or cancellation, and moves the pending samples into
    // `samples`. `ended` comes with the last samples.
    Take take(std::vector<std::int16_t>& samples, const std::atomic<bool>& cancelled) {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return cancelled || ended_ || !pending_.empty(); });
        if (cancelled) return Take::cancelled;
        samples.swap(pending_);
        pending_.clear();
        return ended_ ? Take::ended : Take::samples;
    }

    // Wakes a task waiting in take() so that it sees its cancellation.
    void wake() {
        { std::lock_guard guard(lock_); }
        changed_.notify_all();
    }

private:
    const bool reportsPartials_;
    std::mutex lock_;
    std::condition_variable changed_;
    DecoderAudio audio_;
    std::vector<std::int16_t> pending_;
    bool ended_ = false;
};

// One utterance of a request, decoded on a thread of its own. The handler gets partials,
// then exactly one last call: a final result, or an error (also when cancelled).
class Task final : public platform::RecognitionTask {
public:
    Task(std::shared_ptr<DecoderPool> pool, std::shared_ptr<Request> request,
         platform::RecognitionHandler handler)
        : cancelled_(std::make_shared<std::atomic<bool>>(false)), request_(request) {
        worker_ = std::thread(
            [pool = std::move(pool), request = std::move(request), handler = std::move(handler),
             cancelled = cancelled_] { run(*pool, request.get(), handler, *cancelled); });
    }

    ~Task() override {
        cancel();
        // A handler that drops the last reference to its own task must not wait for itself.
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach();
        else if (worker_.joinable())
            worker_.join();
    }

    void cancel() override {
        *cancelled_ = true;
        if (request_) request_->wake();
    }

private:
    static void call(const platform::RecognitionHandler& handler,
                     std::optional<RecognitionResult> result,
                     std::optional<RecognitionError> error) {
        if (!handler) return;
        try {
            handler(std::move(result), std::move(error));
        } catch (...) {
            // The handler's failure is its own; the task still ends normally.
        }
    }

    static void run(DecoderPool& pool, Request* request,
                    const platform::RecognitionHandler& handler,
                    const std::atomic<bool>& cancelled) {
        if (!request) {
            call(handler, std::nullopt,
                 RecognitionError{errorDomain, foreignRequest,
                                  "The request was not made by this recognizer"});
            return;
        }
        std::unique_ptr<Decoder> decoder;
        bool ended = false;
        try {
            decoder = pool.acquire(cancelled);
            if (decoder) ended = decode(*decoder, *request, handler, cancelled);
        } catch (const std::exception& error) {
            pool.release(std::move(decoder));
            call(handler, std::nullopt, RecognitionError{errorDomain, engineFailure, error.what()});
            return;
        }
        pool.release(std::move(decoder));
        if (!ended)
            call(handler, std::nullopt,
                 RecognitionError{errorDomain, canceled, "Recognition request was canceled"});
    }

    // Decodes until the speech ends, the audio ends (both give a final result) or the task
    // is cancelled (false).
    static bool decode(Decoder& decoder, Request& request,
                       const platform::RecognitionHandler& handler,
                       const std::atomic<bool>& cancelled) {
        Utterances utterances(decoder, &cancelled);
        bool done = false;
        auto emit = [&](Hypothesis hypothesis) {
            if (hypothesis.isFinal) {
                done = true;
                call(handler, RecognitionResult{std::move(hypothesis.text), true}, std::nullopt);
                return false;
            }
            if (request.reportsPartials() && !hypothesis.text.empty())
                call(handler, RecognitionResult{std::move(hypothesis.text), false}, std::nullopt);
            return true;
        };
        std::vector<std::int16_t> samples;
        while (!done) {
            const auto taken = request.take(samples, cancelled);
            if (taken == Request::Take::cancelled) return false;
            utterances.feed(samples, emit);
            if (done) break;
            if (cancelled) return false;
            if (taken == Request::Take::ended) {
                utterances.finish(emit);
                // Audio that ended without speech still ends the task with a final result.
                if (!done) emit({"", true});
            }
        }
        return true;
    }

    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::shared_ptr<Request> request_;
    std::thread worker_;
};

class Recognizer : public platform::SpeechRecognizer {
public:
    explicit Recognizer(Model model) : pool_(std::make_shared<DecoderPool>(std::move(model))) {}

    bool isAvailable() override { return true; }
    bool supportsOnDeviceRecognition() override { return true; }

    std::shared_ptr<platform::RecognitionRequest>
    makeRequest(const platform::RecognitionRequestOptions& options) override {
        return std::make_shared<Request>(options);
    }

    // The model loads on the task's thread at its first use, never on the caller's.
    std::shared_ptr<platform::RecognitionTask>
    recognitionTask(std::shared_ptr<platform::RecognitionRequest> request,
                    platform::RecognitionHandler handler) override {
        return std::make_shared<Task>(pool_, std::dynamic_pointer_cast<Request>(request),
                                      std::move(handler));
    }

private:
    // Shared with the tasks, which may outlive the recognizer.
    std::shared_ptr<DecoderPool> pool_;
};

class Recognition : public platform::SpeechRecognition {
public:
    std::unique_ptr<platform::SpeechRecognizer> makeRecognizer(const std::string& locale) override {
        auto model = findModel(locale);
        if (!model) return nullptr;
        return std::make_unique<Recognizer>(std::move(*model));
    }

    // Nothing to ask on this desktop: recognition is authorized when a model is installed.
    bool requestAuthorization() override { return anyModelInstalled(); }
};

} // namespace

std::unique_ptr<platform::SpeechRecognition> makeSpeechRecognition() {
    return std::make_unique<Recognition>();
}

} // namespace tarvine::adapters::sphinx
