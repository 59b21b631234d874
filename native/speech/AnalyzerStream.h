#pragma once

#include "base/Audio.h"
#include "base/AudioConverter.h"
#include "base/Events.h"
#include "base/MainLoop.h"
#include "platform/SpeechAnalyzer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarvine {

class AudioFile;

// One audio source ("Me", "Them", "File") on the analyzer engine: buffers go in from the
// owner's thread, converted to the engine's preferred format; volatile text, final segments
// and a failure of the results come back on the main loop. Owned by a std::shared_ptr.
class AnalyzerStream : public std::enable_shared_from_this<AnalyzerStream> {
public:
    // Pending inputs a live stream keeps when the engine falls behind (the newest ones).
    static constexpr std::size_t liveBacklog = 4096;

    AnalyzerStream(std::string locale, std::string name, bool live, Events& events);
    ~AnalyzerStream();
    AnalyzerStream(const AnalyzerStream&) = delete;
    AnalyzerStream& operator=(const AnalyzerStream&) = delete;

    static std::shared_ptr<AnalyzerStream> make(std::string locale, std::string name, bool live,
                                                Events& events) {
        return std::make_shared<AnalyzerStream>(std::move(locale), std::move(name), live, events);
    }

    // Assigned by the owner before start(); called on the main loop, one at a time, in the
    // engine's order, each awaited before the next result is read.
    std::function<void(const std::string&)> onCommit;
    std::function<void(const std::string&)> onPartial;
    // Told once when the results fail while the input is still open.
    std::function<void(std::exception_ptr)> onFailure;

    const std::string locale;
    const std::string name;
    // Where the stream's log lines go; it must outlive the results thread.
    Events& events;

    // Guards `paused` (the owner's) and the intake state that start() and endInput() change.
    std::mutex lock;
    bool paused = false; // while true, appended audio is dropped

    // Checks the locale, installs the model when needed, creates the engine and starts it.
    // Run on the main loop; the engine's blocking calls run on the shared pool meanwhile.
    // Throws HelperError for an unsupported locale, the platform's errors otherwise.
    asio::awaitable<void> start();

    // Hands one buffer to the engine, or drops it (before start, after the end of input,
    // while paused). Never blocks on the engine. One feeding thread at a time.
    void append(const PcmBufferRef& buffer);

    // For an owner that reads audio faster than the engine consumes it (a file): blocks the
    // feeding thread until fewer than `limit` inputs wait for the engine, or the input has
    // ended, or `timeout` has passed (then false). Returns at once before start().
    bool waitForRoom(std::size_t limit, std::chrono::milliseconds timeout);

    // Ends the input, lets the engine finish, waits until the last result has been
    // delivered, then releases the engine. Never throws; safe to call in any state and more
    // than once. Run on the main loop.
    asio::awaitable<void> finish();

    // The largest absolute sample among the frames of channel 0; -1 without float channel
    // data, 0 for an empty buffer.
    static float peak(const PcmBuffer& buffer);

private:
    struct ResultsTask;

    bool endInput();
    void openDebugRecording(const AudioFormat& format);
    PcmBufferRef convert(const PcmBufferRef& buffer, const AudioFormat& target);
    static void readResults(const std::shared_ptr<ResultsTask>& task,
                            std::weak_ptr<AnalyzerStream> weak,
                            std::string name, Events& events);
    static asio::awaitable<void> awaitEnd(std::shared_ptr<ResultsTask> task);

    // Guarded by lock.
    std::shared_ptr<platform::AnalyzerInputSequence> builder;
    std::optional<AudioFormat> targetFormat;

    // Main loop only.
    std::shared_ptr<platform::SpeechAnalyzer> analyzer;
    std::shared_ptr<ResultsTask> resultsTask;
    std::int64_t volatileCount = 0;

    // The feeding thread's own bookkeeping.
    std::unique_ptr<AudioConverter> converter;
    std::int64_t frames = 0;
    std::int64_t lastLogged = 0;
    float windowPeak = 0;
    std::int64_t calls = 0;

    // The debug recording is written by the feeding thread and closed by finish().
    std::mutex debugLock;
    std::atomic<bool> recording{false};
    std::unique_ptr<AudioFile> debugFile;

    const std::size_t backlog;
};

} // namespace tarvine
