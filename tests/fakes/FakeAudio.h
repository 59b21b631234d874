#pragma once

#include "Out.h"
#include "base/Audio.h"
#include "base/MainLoop.h"
#include "platform/AudioEngine.h"
#include "platform/SystemAudio.h"

#include <exception>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace tarvine::fakes {

// What a FakeAudioEngine was asked and what it will answer; the test keeps this while the
// engine itself belongs to the capture.
struct FakeAudioEngineState {
    AudioFormat format{48000, 1};
    // Thrown by start() while set.
    std::exception_ptr startError;

    std::vector<std::string> calls; // "installTap", "removeTap", "prepare", "start", ...
    AudioSink tap;
    std::uint32_t tapBufferSize = 0;
    AudioFormat tapFormat;
    bool started = false;
    std::function<void()> handler;
    bool destroyed = false;

    // Delivers one block to the installed tap, as the capture thread would.
    void deliver(std::uint32_t frames = 2048);
    // Tells the observer that the input changed, on the main loop as the platform does.
    void changeConfiguration();
    int count(const std::string& call) const;
};

class FakeAudioEngine : public platform::AudioEngine {
public:
    explicit FakeAudioEngine(std::shared_ptr<FakeAudioEngineState> state)
        : state_(std::move(state)) {}
    ~FakeAudioEngine() override;

    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, AudioSink tap) override;
    void removeTap() override;
    void prepare() override;
    void start() override;
    void stop() override;
    void observeConfigurationChanges(std::function<void()> handler) override;

private:
    std::shared_ptr<FakeAudioEngineState> state_;
};

struct FakeSystemAudioState {
    // Thrown by start() while set.
    std::exception_ptr startError;
    // When valid, start() waits for it, as a slow server keeps the caller waiting.
    std::shared_future<void> startGate;
    int starts = 0;
    int stops = 0;
    AudioSink output;
    std::function<void(const std::string&)> stoppedWithError;
    bool destroyed = false;

    // Hands a buffer of `frames` frames to the stream's output, as the platform's thread
    // would -- also after stop(), like a platform that is still winding down.
    void deliver(std::uint32_t frames);
    void fail(const std::string& description);
};

class FakeSystemAudioStream : public platform::SystemAudioStream {
public:
    explicit FakeSystemAudioStream(std::shared_ptr<FakeSystemAudioState> state)
        : state_(std::move(state)) {}
    ~FakeSystemAudioStream() override;

    void start(AudioSink output, std::function<void(const std::string&)> stoppedWithError) override;
    void stop() override;

private:
    std::shared_ptr<FakeSystemAudioState> state_;
};

} // namespace tarvine::fakes
