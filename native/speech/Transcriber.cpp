#include "Transcriber.h"

#include "AnalyzerStream.h"
#include "MicCapture.h"
#include "SpeechStream.h"
#include "SystemAudioCapture.h"
#include "base/Heap.h"
#include "base/HelperError.h"
#include "base/MainLoop.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/SpeechRecognizer.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace tarvine {

std::shared_ptr<Transcriber> Transcriber::make(std::string locale, bool includeSystem,
                                               Events& events) {
    return std::shared_ptr<Transcriber>(new Transcriber(std::move(locale), includeSystem, events));
}

Transcriber::Transcriber(std::string locale, bool includeSystem, Events& events)
    : events_(events), locale_(std::move(locale)), includeSystem_(includeSystem),
      analyzer_(usesAnalyzer()), mic_(MicCapture::make(events)),
      system_(std::make_unique<SystemAudioCapture>(events)) {}

Transcriber::~Transcriber() = default;

bool Transcriber::usesAnalyzer() {
    const char* engine = std::getenv("TARVINE_SPEECH_ENGINE");
    if (engine && std::string(engine) == "recognizer") return false;
    return platform::integration().speechAnalysis() != nullptr;
}

asio::awaitable<bool> Transcriber::requestSpeechAuth() {
    co_return co_await MainLoop::offload([] {
        auto* recognition = platform::integration().speechRecognition();
        return recognition && recognition->requestAuthorization();
    });
}

float Transcriber::level(const PcmBuffer& buffer) {
    const float* samples = buffer.floatChannelData(0);
    const std::uint32_t frames = buffer.frameLength();
    if (!samples || frames == 0) return -1;
    float sum = 0;
    for (std::uint32_t i = 0; i < frames; ++i)
        sum += samples[i] * samples[i];
    float value = std::sqrt(sum / static_cast<float>(frames)) * 8;
    if (std::isnan(value) || value > 1.0f) return 1.0f;
    return value;
}

void Transcriber::error(const std::string& message) {
    if (onError) onError(message);
}

// When the system audio cannot be started again after it ended, the user hears about it as
// about a start that failed: a log line alone could be dropped under back-pressure.
void Transcriber::giveUpWith(std::string prefix) {
    system_->onGiveUp = [weak = weak_from_this(),
                         prefix = std::move(prefix)](const std::string& why) {
        if (auto self = weak.lock(); self && !self->stopped_) self->error(prefix + why);
    };
}

AudioSink Transcriber::micSink(AudioSink engineSink) {
    std::weak_ptr<Transcriber> weak = weak_from_this();
    return [weak, engineSink = std::move(engineSink)](const PcmBufferRef& buffer) {
        engineSink(buffer);
        auto self = weak.lock();
        if (!self || !self->onLevel) return;
        float value = level(*buffer);
        if (value >= 0) self->onLevel(value);
    };
}

namespace {

// Both engines report text per channel; the session passes it on with the channel's speaker.
template <class Stream>
void forwardText(Stream& stream, const std::weak_ptr<Transcriber>& weak, Speaker speaker) {
    stream.onPartial = [weak, speaker](const std::string& text) {
        if (auto self = weak.lock(); self && self->onPartial) self->onPartial(speaker, text);
    };
    stream.onCommit = [weak, speaker](const std::string& text) {
        if (auto self = weak.lock(); self && self->onCommit) self->onCommit(speaker, text);
    };
}

// Sinks that feed a channel's engine; they hold the engine weakly, so a dropped engine
// silences its capture.
AudioSink into(const std::shared_ptr<AnalyzerStream>& stream) {
    return [weak = std::weak_ptr(stream)](const PcmBufferRef& buffer) {
        if (auto engine = weak.lock()) engine->append(buffer);
    };
}

AudioSink into(const std::shared_ptr<SpeechStream>& stream) {
    return [weak = std::weak_ptr(stream)](const PcmBufferRef& buffer) {
        if (auto engine = weak.lock()) engine->requestBox.append(buffer);
    };
}

} // namespace

std::shared_ptr<AnalyzerStream> Transcriber::makeAnalyzerStream(Speaker speaker,
                                                                std::string failurePrefix) {
    auto stream = AnalyzerStream::make(locale_, std::string(channelName(speaker)), true, events_);
    std::weak_ptr<Transcriber> weak = weak_from_this();
    forwardText(*stream, weak, speaker);
    stream->onFailure = [weak,
                         failurePrefix = std::move(failurePrefix)](const std::exception_ptr& failure) {
        if (auto self = weak.lock()) self->error(failurePrefix + errorMessage(failure));
    };
    return stream;
}

std::shared_ptr<SpeechStream> Transcriber::makeStream(Speaker speaker) {
    auto stream = SpeechStream::make(locale_, std::string(channelName(speaker)), events_);
    forwardText(*stream, weak_from_this(), speaker);
    return stream;
}

asio::awaitable<void> Transcriber::open() {
    auto self = shared_from_this(); // the session outlives every wait below
    events_.log("listen: start locale=" + locale_);
    bool micAllowed = co_await MainLoop::offload(
        [] { return platform::integration().permissions().requestMicrophoneAccess(); });
    events_.log(std::string("listen: micAllowed=") + (micAllowed ? "true" : "false"));
    if (stopped_) co_return;
    if (analyzer_)
        co_await openWithAnalyzer(micAllowed);
    else
        co_await openWithRecognizer(micAllowed);
}

asio::awaitable<void> Transcriber::openWithAnalyzer(bool micAllowed) {
    if (includeSystem_) {
        them26_ = makeAnalyzerStream(Speaker::them, "Transcription of the other side stopped: ");
        auto them = them26_;
        co_await them->start();
        if (stopped_) {
            co_await them->finish();
            co_return;
        }
        system_->setSink(into(them));
        giveUpWith("System audio unavailable (grant Screen & System Audio Recording): ");
        try {
            co_await system_->start();
            events_.log("listen: system audio started");
        } catch (const std::exception& failure) {
            events_.log("listen: system audio FAILED " + describe(failure));
            error("System audio unavailable (grant Screen & System Audio Recording): " +
                  std::string(failure.what()));
        }
        if (stopped_) co_return;
        if (!micAllowed) {
            error("Microphone permission denied — only system audio will be transcribed.");
            co_return;
        }
    } else if (!micAllowed) {
        throw HelperError(
            "Microphone permission denied. Enable it in System Settings ▸ Privacy & Security.");
    }

    me26_ = makeAnalyzerStream(Speaker::me, "Transcription of your microphone stopped: ");
    auto me = me26_;
    co_await me->start();
    if (stopped_) {
        co_await me->finish();
        co_return;
    }
    try {
        mic_->start(micSink(into(me)));
        events_.log("listen: mic started");
    } catch (const std::exception& failure) {
        events_.log("listen: mic FAILED " + describe(failure));
        error("Microphone unavailable: " + std::string(failure.what()));
    }
}

asio::awaitable<void> Transcriber::openWithRecognizer(bool micAllowed) {
    if (!co_await requestSpeechAuth())
        throw HelperError("Speech Recognition permission denied. Enable it in System Settings ▸ "
                          "Privacy & Security.");
    if (stopped_) co_return;
    if (includeSystem_) {
        them_ = makeStream(Speaker::them);
        them_->running = true;
        them_->rotate();
        system_->setSink(into(them_));
        giveUpWith("System audio unavailable (grant Screen Recording permission): ");
        try {
            co_await system_->start();
        } catch (const std::exception& failure) {
            error("System audio unavailable (grant Screen Recording permission): " +
                  std::string(failure.what()));
        }
        if (stopped_ || !micAllowed) co_return;
    } else if (!micAllowed) {
        // Nothing would be transcribed; say so rather than return a silent session.
        throw HelperError(
            "Microphone permission denied. Enable it in System Settings ▸ Privacy & Security.");
    }
    me_ = makeStream(Speaker::me);
    me_->running = true;
    me_->rotate();
    try {
        mic_->start(micSink(into(me_)));
    } catch (const std::exception& failure) {
        error("Microphone unavailable: " + std::string(failure.what()));
    }
}

void Transcriber::setPaused(bool paused) {
    for (const auto& stream : {me_, them_}) {
        if (!stream) continue;
        {
            std::lock_guard guard(stream->requestBox.lock);
            stream->requestBox._paused = paused;
        }
        if (paused) stream->rotate();
    }
    if (!analyzer_) return;
    for (const auto& stream : {me26_, them26_}) {
        if (!stream) continue;
        std::lock_guard guard(stream->lock);
        stream->paused = paused;
    }
}

asio::awaitable<void> Transcriber::stop() {
    auto self = shared_from_this();
    stopped_ = true;
    const bool heldEngines = me_ || them_ || me26_ || them26_;
    mic_->stop();
    system_->stop();
    for (const auto& stream : {me_, them_}) {
        if (!stream) continue;
        stream->running = false;
        stream->rotate();
        stream->invalidateTimers();
    }
    me_.reset();
    them_.reset();
    auto me = std::move(me26_);
    auto them = std::move(them26_);
    if (me && them)
        co_await MainLoop::both(me->finish(), them->finish());
    else if (me)
        co_await me->finish();
    else if (them)
        co_await them->finish();
    me.reset();
    them.reset();
    // The engines' models are freed by now; their memory goes back to the system.
    if (heldEngines) {
        auto returning = MainLoop::offload([] { Heap::returnFreedMemory(); });
        co_await std::move(returning);
    }
}

} // namespace tarvine
