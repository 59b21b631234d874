#pragma once

#include "base/Audio.h"
#include "base/Events.h"
#include "base/Speaker.h"

#include <asio/awaitable.hpp>
#include <functional>
#include <memory>
#include <string>

namespace tarvine {

class AnalyzerStream;
class MicCapture;
class SpeechStream;
class SystemAudioCapture;

// One listening session: the microphone as `me` and, when wanted, the system audio as `them`,
// one speech engine per channel, reporting partial and committed text, messages for the user
// and the microphone level. The analyzer engine is used where the platform has one (unless
// TARVINE_SPEECH_ENGINE=recognizer), the older recognizer otherwise. Owned by a shared_ptr;
// engines, sinks and callbacks refer to it weakly.
class Transcriber : public std::enable_shared_from_this<Transcriber> {
public:
    // Log lines go to `events`, which must outlive the session.
    static std::shared_ptr<Transcriber> make(std::string locale, bool includeSystem,
                                             Events& events);
    ~Transcriber();
    Transcriber(const Transcriber&) = delete;
    Transcriber& operator=(const Transcriber&) = delete;

    // Set by the owner before open(). The first three run on the main loop; onLevel runs on
    // the microphone's capture thread.
    std::function<void(Speaker, const std::string&)> onPartial;
    std::function<void(Speaker, const std::string&)> onCommit;
    std::function<void(const std::string&)> onError;
    std::function<void(float)> onLevel;

    // Starts capture and recognition. Throws HelperError with a permission message, or an
    // engine's start error. Returns early when stop() ran meanwhile.
    asio::awaitable<void> open();
    // Ends the session; safe at any time and more than once. Never throws.
    asio::awaitable<void> stop();
    // Pauses or resumes transcription of both channels; capture keeps running.
    void setPaused(bool paused);

    bool stopped() const { return stopped_; }

    // Speech recognition authorization for the older engine: true only when authorized.
    static asio::awaitable<bool> requestSpeechAuth();
    // Whether sessions run on the analyzer engine.
    static bool usesAnalyzer();
    // The level of a microphone buffer, 0 to 1, or a negative value when it has none (no
    // float channel data, no frames).
    static float level(const PcmBuffer& buffer);

private:
    Transcriber(std::string locale, bool includeSystem, Events& events);

    asio::awaitable<void> openWithAnalyzer(bool micAllowed);
    asio::awaitable<void> openWithRecognizer(bool micAllowed);
    std::shared_ptr<AnalyzerStream> makeAnalyzerStream(Speaker speaker, std::string failurePrefix);
    std::shared_ptr<SpeechStream> makeStream(Speaker speaker);
    AudioSink micSink(AudioSink engineSink);
    void error(const std::string& message);
    void giveUpWith(std::string prefix);

    Events& events_;
    const std::string locale_;
    const bool includeSystem_;
    const bool analyzer_;
    std::shared_ptr<SpeechStream> me_, them_;
    std::shared_ptr<AnalyzerStream> me26_, them26_;
    std::shared_ptr<MicCapture> mic_;
    std::unique_ptr<SystemAudioCapture> system_;
    bool stopped_ = false;
};

} // namespace tarvine
