#include "MicCapture.h"

#include "base/HelperError.h"
#include "platform/Platform.h"

#include <string>

namespace tarvine {

namespace {

constexpr std::uint32_t tapBufferSize = 2048;
// Attempts after one configuration change: the first plus ten retries.
constexpr std::int64_t maxRetries = 10;
constexpr auto retryDelay = std::chrono::seconds(1);

} // namespace

std::shared_ptr<MicCapture> MicCapture::make(Events& events) {
    return std::shared_ptr<MicCapture>(new MicCapture(events));
}

MicCapture::MicCapture(Events& events)
    : events_(events), engine_(platform::integration().makeAudioEngine()),
      retryTimer_(MainLoop::context()) {}

void MicCapture::start(AudioSink sink) {
    running_ = true;
    sink_ = std::move(sink);
    if (engine_) {
        engine_->observeConfigurationChanges([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->restart();
        });
        observing_ = true;
    }
    try {
        open();
    } catch (...) {
        stop();
        throw;
    }
}

void MicCapture::open() {
    if (!sink_) return;
    const AudioFormat format = engine_ ? engine_->inputFormat() : AudioFormat{};
    // Written so that a NaN rate also counts as no device.
    if (!(format.sampleRate > 0) || format.channelCount == 0) throw HelperError("No microphone.");
    // The tap keeps its own copy of the sink, so clearing sink_ never races a delivery.
    engine_->installTap(tapBufferSize, format, sink_);
    engine_->prepare();
    engine_->start();
}

void MicCapture::stop() {
    if (!running_) return;
    running_ = false;
    if (observing_) {
        engine_->observeConfigurationChanges({});
        observing_ = false;
    }
    sink_ = nullptr;
    ++retryGeneration_;
    retryTimer_.cancel();
    removeTapAndStop();
}

void MicCapture::removeTapAndStop() {
    if (!engine_) return;
    engine_->removeTap();
    engine_->stop();
}

void MicCapture::restart() {
    if (!running_) return;
    ++retryGeneration_;
    retryTimer_.cancel();
    removeTapAndStop();
    try {
        open();
        retries_ = 0;
        const AudioFormat format = engine_ ? engine_->inputFormat() : AudioFormat{};
        events_.log("listen: mic restarted (" + format.description() + ")");
    } catch (const std::exception& error) {
        removeTapAndStop();
        ++retries_;
        events_.log("listen: mic restart FAILED (" + std::to_string(retries_) + ") " +
                    describe(error));
        if (retries_ <= maxRetries) scheduleRetry();
    }
}

void MicCapture::scheduleRetry() {
    retryTimer_.expires_after(retryDelay);
    retryTimer_.async_wait(
        [weak = weak_from_this(), generation = retryGeneration_](const std::error_code& error) {
            if (error) return;
            auto self = weak.lock();
            // A later restart or a stop since scheduling makes this attempt stale.
            if (!self || self->retryGeneration_ != generation) return;
            self->restart();
        });
}

} // namespace tarvine
