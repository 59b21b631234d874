#include "SystemAudioCapture.h"

#include "base/HelperError.h"
#include "base/MainLoop.h"
#include "platform/Platform.h"

namespace tarvine {

SystemAudioCapture::SystemAudioCapture(Events& events)
    : events_(events), delivery_(std::make_shared<Delivery>()) {}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::setSink(AudioSink sink) {
    std::lock_guard guard(delivery_->lock);
    delivery_->sink = std::move(sink);
}

asio::awaitable<void> SystemAudioCapture::start() {
    std::shared_ptr<platform::SystemAudioStream> candidate =
        platform::integration().makeSystemAudioStream();
    if (!candidate) throw HelperError("No display");

    AudioSink output = [delivery = delivery_](const PcmBufferRef& buffer) {
        if (!buffer || buffer->frameLength() == 0) return;
        std::lock_guard guard(delivery->lock);
        if (delivery->sink) delivery->sink(buffer);
    };
    auto stopped = [&events = events_](const std::string& description) {
        events.log("system audio stopped: " + description);
    };
    // Starting blocks until the sound server answers, so it runs off the main thread. The
    // job's copy of `candidate` keeps a refused stream alive until it has been told so.
    auto job = [candidate, output = std::move(output), stopped = std::move(stopped)]() mutable {
        candidate->start(std::move(output), std::move(stopped));
    };
    co_await MainLoop::offload(std::move(job));
    stream_ = std::move(candidate);
}

void SystemAudioCapture::stop() {
    std::shared_ptr<platform::SystemAudioStream> taken = std::move(stream_);
    stream_.reset();
    setSink(nullptr);
    if (!taken) return;
    taken->stop();
    // Releasing the stream joins its thread and closes the server connection, which may
    // take a moment; that is no reason to keep the main thread waiting.
    asio::post(MainLoop::pool(), [taken = std::move(taken)]() mutable { taken.reset(); });
}

} // namespace tarvine
