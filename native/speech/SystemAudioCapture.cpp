#include "SystemAudioCapture.h"

#include "base/HelperError.h"
#include "platform/Platform.h"

namespace tarvine {

namespace {

void release(std::shared_ptr<platform::SystemAudioStream> stream) {
    if (!stream) return;
    stream->stop();
    // Releasing the stream joins its thread and closes the server connection, which may
    // take a moment; that is no reason to keep the main thread waiting.
    asio::post(MainLoop::pool(), [stream = std::move(stream)]() mutable { stream.reset(); });
}

} // namespace

SystemAudioCapture::SystemAudioCapture(Events& events)
    : events_(events), delivery_(std::make_shared<Delivery>()), retryTimer_(MainLoop::context()),
      alive_(std::make_shared<SystemAudioCapture*>(this)) {}

SystemAudioCapture::~SystemAudioCapture() {
    stop();
}

void SystemAudioCapture::setSink(AudioSink sink) {
    std::lock_guard guard(delivery_->lock);
    delivery_->sink = std::move(sink);
}

asio::awaitable<std::shared_ptr<platform::SystemAudioStream>> SystemAudioCapture::startStream() {
    std::shared_ptr<platform::SystemAudioStream> candidate =
        platform::integration().makeSystemAudioStream();
    if (!candidate) throw HelperError("No display");

    AudioSink output = [delivery = delivery_](const PcmBufferRef& buffer) {
        if (!buffer || buffer->frameLength() == 0) return;
        std::lock_guard guard(delivery->lock);
        if (delivery->sink) delivery->sink(buffer);
    };
    auto ended = [&events = events_, weak = std::weak_ptr(alive_),
                  generation = generation_](const std::string& description) {
        events.log("system audio stopped: " + description);
        MainLoop::post([weak, generation] {
            if (auto alive = weak.lock()) (*alive)->streamEnded(generation);
        });
    };
    // Starting blocks until the sound server answers, so it runs off the main thread. The
    // job's copy of `candidate` keeps a refused stream alive until it has been told so.
    auto job = [candidate, output = std::move(output), ended = std::move(ended)]() mutable {
        candidate->start(std::move(output), std::move(ended));
    };
    auto starting = MainLoop::offload(std::move(job));
    co_await std::move(starting);
    co_return candidate;
}

asio::awaitable<void> SystemAudioCapture::start() {
    auto started = startStream();
    stream_ = co_await std::move(started);
}

void SystemAudioCapture::stop() {
    ++generation_;
    retryTimer_.cancel();
    std::shared_ptr<platform::SystemAudioStream> taken = std::move(stream_);
    stream_.reset();
    setSink(nullptr);
    release(std::move(taken));
}

void SystemAudioCapture::streamEnded(std::uint64_t generation) {
    if (generation != generation_ || !stream_) return;
    release(std::exchange(stream_, nullptr));
    ++generation_;
    MainLoop::spawn(restart(generation_));
}

asio::awaitable<void> SystemAudioCapture::restart(std::uint64_t generation) {
    std::weak_ptr<SystemAudioCapture*> weak = alive_;
    std::shared_ptr<platform::SystemAudioStream> stream;
    std::string failure, description;
    try {
        auto starting = startStream();
        stream = co_await std::move(starting);
    } catch (...) {
        failure = errorMessage(std::current_exception());
        description = errorDescription(std::current_exception());
    }
    auto alive = weak.lock();
    if (!alive || generation != generation_) {
        release(std::move(stream)); // stopped meanwhile: what started since is let go at once
        co_return;
    }
    if (stream) {
        stream_ = std::move(stream);
        retries_ = 0;
        events_.log("listen: system audio restarted");
        co_return;
    }
    ++retries_;
    events_.log("listen: system audio restart FAILED (" + std::to_string(retries_) + ") " +
                description);
    if (retries_ <= maxRetries)
        scheduleRetry(generation);
    else if (onGiveUp)
        onGiveUp(failure);
}

void SystemAudioCapture::scheduleRetry(std::uint64_t generation) {
    retryTimer_.expires_after(retryDelay);
    retryTimer_.async_wait(
        [weak = std::weak_ptr(alive_), generation](const std::error_code& error) {
            if (error) return;
            auto alive = weak.lock();
            if (!alive || (*alive)->generation_ != generation) return;
            MainLoop::spawn((*alive)->restart(generation));
        });
}

} // namespace tarvine
