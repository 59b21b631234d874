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

} // namespace tarvine::fakes
