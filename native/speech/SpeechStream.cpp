#include "SpeechStream.h"

#include "SpeechText.h"
#include "base/HelperError.h"
#include "platform/Platform.h"

namespace tarvine {

namespace {

const char* flag(bool value) {
    return value ? "true" : "false";
}

} // namespace

void RequestBox::append(const PcmBufferRef& buffer) {
    if (buffer) append(*buffer);
}

void RequestBox::append(const PcmBuffer& buffer) {
    std::lock_guard guard(lock);
    ++count;
    if (count == 1 || count % 500 == 0) {
        const AudioFormat& format = buffer.format();
        events.log("audio buffers=" + std::to_string(count) +
                   " fmt=" + SpeechText::rateText(format.sampleRate) +
                   "Hz ch=" + std::to_string(format.channelCount) +
                   " frames=" + std::to_string(buffer.frameLength()) +
                   " hasRequest=" + flag(request != nullptr));
    }
    // Appending under the lock keeps a rotated-out request from ever seeing more audio.
    if (!_paused && request) request->append(buffer);
}

SpeechStream::SpeechStream(const std::string& locale, const std::string& name, Events& events)
    : requestBox(events), name_(name), events_(events) {
    if (auto* recognition = platform::integration().speechRecognition()) {
        try {
            recognizer = recognition->makeRecognizer(locale);
        } catch (const std::exception&) {
            recognizer = nullptr; // reported below as recognizer=false
        }
    }
    const bool exists = recognizer != nullptr;
    SpeechText::log(events_, name_,
                    std::string("recognizer=") + flag(exists) +
                        " available=" + flag(exists && recognizer->isAvailable()) +
                        " onDevice=" + flag(exists && recognizer->supportsOnDeviceRecognition()));
}

SpeechStream::~SpeechStream() {
    // An owner that drops the stream without stopping it must not leave the engine working.
    std::shared_ptr<platform::RecognitionRequest> taken;
    {
        std::lock_guard guard(requestBox.lock);
        taken = std::move(requestBox.request);
    }
    if (taken) taken->endAudio();
    if (task) task->cancel();
}

void SpeechStream::invalidateTimers() {
    if (silenceTimer) silenceTimer->cancel();
    if (maxTimer) maxTimer->cancel();
}

void SpeechStream::rotate() {
    // The owner's callbacks below may drop their last reference to us.
    auto keep = weak_from_this().lock();
    invalidateTimers();
    const std::int64_t current = ++generation_;

    std::shared_ptr<platform::RecognitionRequest> taken;
    {
        std::lock_guard guard(requestBox.lock);
        taken = std::move(requestBox.request);
        requestBox.request = nullptr;
    }
    if (taken) taken->endAudio();
    if (task) {
        task->cancel();
        task = nullptr;
    }

    const std::string text = SpeechText::trimmed(lastPartial);
    lastPartial.clear();
    if (!text.empty() && onCommit) onCommit(text);
    if (onPartial) onPartial("");

    // A callback that rotated again has already started the next task.
    if (generation_ != current) return;
    if (running && recognizer) startTask(current);
}

void SpeechStream::startTask(std::int64_t current) {
    platform::RecognitionRequestOptions options;
    options.shouldReportPartialResults = true;
    options.addsPunctuation = true;
    options.requiresOnDeviceRecognition = recognizer->supportsOnDeviceRecognition();

    std::weak_ptr<SpeechStream> weak = weak_from_this();
    auto handler = [weak, current](std::optional<platform::RecognitionResult> result,
                                   std::optional<platform::RecognitionError> error) {
        std::optional<std::string> text;
        bool isFinal = false;
        const bool hadResult = result.has_value();
        if (result) {
            text = std::move(result->formattedString);
            isFinal = result->isFinal;
        }
        MainLoop::post([weak, current, text = std::move(text), isFinal, hadResult,
                        error = std::move(error)]() mutable {
            if (auto self = weak.lock())
                self->handleResult(current, std::move(text), isFinal, hadResult, std::move(error));
        });
    };

    try {
        auto request = recognizer->makeRequest(options);
        {
            std::lock_guard guard(requestBox.lock);
            requestBox.request = request;
        }
        if (request) task = recognizer->recognitionTask(request, std::move(handler));
    } catch (const std::exception& error) {
        // A task that cannot start is treated as one that failed without a result.
        SpeechText::log(events_, name_, "task error: " + describe(error));
        scheduleRetry(current);
    }

    maxTimer = schedule(maxTaskLife, [current](SpeechStream& self) {
        if (self.generation_ == current) self.rotate();
    });
}

void SpeechStream::handleResult(std::int64_t current, std::optional<std::string> text, bool isFinal,
                                bool hadResult, std::optional<platform::RecognitionError> error) {
    if (generation_ != current) return;
    if (error)
        SpeechText::log(events_, name_,
                        "task error: " + error->domain + " " + std::to_string(error->code) + " " +
                            error->localizedDescription);
    if (text && !text->empty()) {
        if (lastPartial.empty())
            SpeechText::log(events_, name_,
                            "got speech (" + std::to_string(SpeechText::characterCount(*text)) +
                                " chars)");
        lastPartial = *text;
        if (onPartial) onPartial(*text);
        if (generation_ != current) return;
        armSilenceTimer();
    }
    if (isFinal)
        rotate();
    else if (error && !hadResult)
        scheduleRetry(current);
}

void SpeechStream::armSilenceTimer() {
    if (silenceTimer) silenceTimer->cancel();
    const std::int64_t current = generation_;
    silenceTimer = schedule(silenceDelay, [current](SpeechStream& self) {
        if (self.generation_ == current && !self.lastPartial.empty()) self.rotate();
    });
}

void SpeechStream::scheduleRetry(std::int64_t current) {
    // The pending retry keeps the stream alive until it has run.
    auto self = weak_from_this().lock();
    if (!self) return;
    auto timer = std::make_shared<Timer>(MainLoop::context(), retryDelay);
    timer->async_wait([self, timer, current](const std::error_code& ec) {
        if (!ec && self->generation_ == current && self->running) self->rotate();
    });
}

std::shared_ptr<MainLoop::Timer> SpeechStream::schedule(MainLoop::Clock::duration delay,
                                                        std::function<void(SpeechStream&)> action) {
    auto timer = std::make_shared<Timer>(MainLoop::context(), delay);
    std::weak_ptr<SpeechStream> weak = weak_from_this();
    std::weak_ptr<Timer> weakTimer = timer;
    timer->async_wait([weak, weakTimer, action = std::move(action)](const std::error_code& ec) {
        if (ec) return;
        auto self = weak.lock();
        if (!self) return;
        // A timer replaced after it had already expired must not act.
        auto fired = weakTimer.lock();
        if (!fired || (fired != self->silenceTimer && fired != self->maxTimer)) return;
        action(*self);
    });
    return timer;
}

} // namespace tarvine
