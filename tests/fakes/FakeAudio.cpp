#include "FakeAudio.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tarvine::fakes {

void FakeAudioEngineState::deliver(std::uint32_t frames) {
    if (!tap || !started) return;
    auto buffer = std::make_shared<PcmBuffer>(tapFormat, frames);
    buffer->setFrameLength(frames);
    tap(buffer);
}

void FakeAudioEngineState::changeConfiguration() {
    if (handler) MainLoop::post(handler);
}

int FakeAudioEngineState::count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

FakeAudioEngine::~FakeAudioEngine() {
    state_->destroyed = true;
}

AudioFormat FakeAudioEngine::inputFormat() {
    return state_->format;
}

void FakeAudioEngine::installTap(std::uint32_t bufferSize, const AudioFormat& format,
                                 AudioSink tap) {
    state_->calls.push_back("installTap");
    state_->tap = std::move(tap);
    state_->tapBufferSize = bufferSize;
    state_->tapFormat = format;
}

void FakeAudioEngine::removeTap() {
    state_->calls.push_back("removeTap");
    state_->tap = nullptr;
}

void FakeAudioEngine::prepare() {
    state_->calls.push_back("prepare");
}

void FakeAudioEngine::start() {
    state_->calls.push_back("start");
    if (state_->startError) std::rethrow_exception(state_->startError);
    state_->started = true;
}

void FakeAudioEngine::stop() {
    state_->calls.push_back("stop");
    state_->started = false;
}

void FakeAudioEngine::observeConfigurationChanges(std::function<void()> handler) {
    state_->calls.push_back(handler ? "observe" : "unobserve");
    state_->handler = std::move(handler);
}

void FakeSystemAudioState::deliver(std::uint32_t frames) {
    if (!output) return;
    auto buffer = std::make_shared<PcmBuffer>(AudioFormat{48000, 1}, frames);
    buffer->setFrameLength(frames);
    output(buffer);
}

void FakeSystemAudioState::fail(const std::string& description) {
    if (stoppedWithError) stoppedWithError(description);
}

FakeSystemAudioStream::~FakeSystemAudioStream() {
    state_->destroyed = true;
}

void FakeSystemAudioStream::start(AudioSink output,
                                  std::function<void(const std::string&)> stoppedWithError) {
    ++state_->starts;
    if (state_->startGate.valid()) state_->startGate.wait();
    if (state_->startError) std::rethrow_exception(state_->startError);
    state_->output = std::move(output);
    state_->stoppedWithError = std::move(stoppedWithError);
}

void FakeSystemAudioStream::stop() {
    ++state_->stops;
}

LogCapture::LogCapture() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    // Non-blocking on the read side so take() reads what is there and no more; tests emit
    // far less than a pipe holds.
    ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
    channel_ = std::make_unique<OutputChannel>(fds_[1]);
    Out::redirect(channel_.get());
}

LogCapture::~LogCapture() {
    Out::redirect(nullptr);
    channel_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

std::vector<std::string> LogCapture::take() {
    channel_->flush();
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fds_[0], chunk, sizeof chunk);
        if (n > 0) {
            pending_.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    std::vector<std::string> messages;
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        auto event = Message::parse(pending_.substr(start, end - start));
        if (event.value("type", "") == "log") messages.push_back(event.value("message", ""));
    }
    pending_.erase(0, start);
    return messages;
}

void drainMainLoop() {
    auto& loop = MainLoop::context();
    loop.restart();
    loop.poll();
}

void advanceClock(MainLoop::Clock::duration by) {
    MainLoop::Clock::advance(by);
    // The loop's timer wake-up was set in real time; an already-due timer makes it look at
    // the clock again.
    MainLoop::Timer nudge(MainLoop::context());
    nudge.expires_at(MainLoop::Clock::time_point::min());
    nudge.async_wait([](const std::error_code&) {});
    drainMainLoop();
    drainMainLoop();
}

} // namespace tarvine::fakes
