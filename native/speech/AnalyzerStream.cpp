#include "AnalyzerStream.h"

#include "SpeechText.h"
#include "base/AudioFile.h"
#include "base/HelperError.h"
#include "base/Signal.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace tarvine {

namespace {

namespace fs = std::filesystem;

const char* flag(bool value) {
    return value ? "true" : "false";
}

// The user's state directory, where the debug recordings go ("Logs/" beneath it).
fs::path stateDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') return state;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : "/tmp";
    }
    return fs::path(home) / ".local" / "state";
}

std::string lowercase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Whole seconds of a sample rate, as the "audio in" cadence counts them.
std::int64_t wholeRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0) return 0;
    return rate >= 1e15 ? static_cast<std::int64_t>(1e15) : static_cast<std::int64_t>(rate);
}

} // namespace

// The reader of the engine's results: one thread per stream, which blocks on the results and
// hops to the main loop for every callback. finish() awaits its end without blocking the loop.
struct AnalyzerStream::ResultsTask {
    explicit ResultsTask(std::shared_ptr<platform::TranscriptionResults> sequence)
        : results(std::move(sequence)) {}

    // Results still pending are skipped and the thread ends.
    void cancel() {
        cancelled = true;
        results->finish();
    }

    std::shared_ptr<platform::TranscriptionResults> results;
    std::atomic<bool> cancelled{false};
    // Main loop only: set, and announced, by the thread's last job.
    bool ended = false;
    Signal finished;
};

AnalyzerStream::AnalyzerStream(std::string locale_, std::string name_, bool live, Events& events_)
    : locale(std::move(locale_)), name(std::move(name_)), events(events_),
      backlog(live ? liveBacklog : platform::AnalyzerInputSequence::unbounded) {}

AnalyzerStream::~AnalyzerStream() {
    // Dropped without finish(): stop feeding the engine and release the results thread.
    endInput();
    if (resultsTask) resultsTask->cancel();
}

float AnalyzerStream::peak(const PcmBuffer& buffer) {
    const float* samples = buffer.floatChannelData(0);
    if (!samples) return -1;
    float highest = 0;
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i) {
        const float value = std::fabs(samples[i]);
        if (value > highest) highest = value;
    }
    return highest;
}

asio::awaitable<void> AnalyzerStream::start() {
    // Lambdas stay out of the co_await expressions below (see MainLoop::offload).
    auto keep = weak_from_this().lock();
    const std::string unsupported = "Transcription isn't available for " + locale + " on this Mac.";
    platform::SpeechAnalysis* analysis = platform::integration().speechAnalysis();
    if (!analysis) throw HelperError(unsupported);

    auto asking = MainLoop::offload(
        [analysis, requested = locale] { return analysis->supportedLocale(requested); });
    const std::optional<std::string> supported = co_await std::move(asking);
    if (!supported) throw HelperError(unsupported);
    const std::string& identifier = *supported;

    auto checking = MainLoop::offload(
        [analysis, identifier] { return analysis->needsAssetInstallation(identifier); });
    if (co_await std::move(checking)) {
        SpeechText::log(events, name, "downloading speech model for " + identifier + "\u2026");
        auto installing =
            MainLoop::offload([analysis, identifier] { analysis->downloadAndInstall(identifier); });
        co_await std::move(installing);
        SpeechText::log(events, name, "speech model installed");
    }

    auto making = MainLoop::offload([analysis, identifier] {
        return std::shared_ptr<platform::SpeechAnalyzer>(analysis->makeAnalyzer(identifier));
    });
    const std::shared_ptr<platform::SpeechAnalyzer> engine = co_await std::move(making);
    if (!engine) throw HelperError(unsupported);
    auto choosing = MainLoop::offload([engine] { return engine->bestAvailableAudioFormat(); });
    const std::optional<AudioFormat> format = co_await std::move(choosing);

    auto input = std::make_shared<platform::AnalyzerInputSequence>(backlog);
    {
        std::lock_guard guard(lock);
        builder = input;
        targetFormat = format;
    }

    if (const char* debug = std::getenv("TARVINE_DEBUG_AUDIO");
        debug && std::string_view(debug) == "1" && format)
        openDebugRecording(*format);

    auto results = std::make_shared<platform::TranscriptionResults>();
    auto task = std::make_shared<ResultsTask>(results);
    std::exception_ptr failure;
    try {
        std::thread(readResults, task, weak_from_this(), name, std::ref(events)).detach();
        resultsTask = task;
        auto starting =
            MainLoop::offload([engine, input, results] { engine->start(input, results); });
        co_await std::move(starting);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        endInput();
        task->cancel();
        resultsTask = nullptr;
        auto cancelling = MainLoop::offload([engine] {
            try {
                engine->cancelAndFinishNow();
            } catch (...) {
                // Nothing more to stop; the start error is what the owner hears about.
            }
        });
        co_await std::move(cancelling);
        std::rethrow_exception(failure);
    }

    analyzer = engine;
    SpeechText::log(events, name,
                    "analyzer started locale=" + identifier +
                        " format=" + (format ? format->description() : "nil"));
}

void AnalyzerStream::openDebugRecording(const AudioFormat& format) {
    const fs::path path = stateDirectory() / "Logs" / ("Tarvine-" + lowercase(name) + ".caf");
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    fs::remove(path, ignored);
    std::unique_ptr<AudioFile> file;
    try {
        file = AudioFile::forWriting(path.string(), format);
    } catch (const PlatformError&) {
    }
    SpeechText::log(events, name,
                    "debug audio -> " + path.filename().string() + " " + (file ? "ok" : "FAILED"));
    std::lock_guard guard(debugLock);
    debugFile = std::move(file);
    recording = debugFile != nullptr;
}

void AnalyzerStream::append(const PcmBufferRef& buffer) {
    if (!buffer) return;
    ++calls;
    bool isPaused;
    std::shared_ptr<platform::AnalyzerInputSequence> input;
    std::optional<AudioFormat> target;
    {
        std::lock_guard guard(lock);
        isPaused = paused;
        input = builder;
        target = targetFormat;
    }
    const AudioFormat& format = buffer->format();
    if (calls == 1)
        SpeechText::log(events, name,
                        "append #" + std::to_string(calls) + " builder=" + flag(input != nullptr) +
                            " paused=" + flag(isPaused) +
                            " fmt=" + SpeechText::rateText(format.sampleRate) + "/" +
                            std::to_string(static_cast<unsigned>(format.commonFormat)));
    if (isPaused || !input) return;

    frames += buffer->frameLength();
    const float bufferPeak = peak(*buffer);
    if (bufferPeak > windowPeak) windowPeak = bufferPeak;
    const std::int64_t rate = wholeRate(format.sampleRate);
    if (frames - lastLogged > 10 * rate) {
        lastLogged = frames;
        char level[32];
        std::snprintf(level, sizeof level, "%.3f", static_cast<double>(windowPeak));
        SpeechText::log(events, name,
                        "audio in: " + std::to_string(frames / std::max<std::int64_t>(rate, 1)) +
                            "s peak10s=" + level + (windowPeak < 0.001f ? " (SILENT)" : ""));
        windowPeak = 0;
    }

    PcmBufferRef chosen = buffer;
    if (target && format != *target) {
        chosen = convert(buffer, *target);
        if (!chosen) return;
    }
    if (recording.load(std::memory_order_acquire)) {
        std::lock_guard guard(debugLock);
        if (debugFile) debugFile->write(*chosen);
    }
    // Under the live policy this may push out the oldest pending input; after the end of
    // input it is ignored.
    input->yield(std::move(chosen));
}

PcmBufferRef AnalyzerStream::convert(const PcmBufferRef& buffer, const AudioFormat& target) {
    const AudioFormat& from = buffer->format();
    if (!converter || converter->inputFormat() != from || converter->outputFormat() != target) {
        // A new device with another format gets a new converter; the next call retries a
        // format that cannot be converted.
        converter = AudioConverter::make(from, target);
        if (!converter) return nullptr;
    }
    const double capacity =
        target.sampleRate / from.sampleRate * static_cast<double>(buffer->frameLength()) + 64;
    if (!(capacity >= 0 && capacity <= std::numeric_limits<std::uint32_t>::max())) return nullptr;
    std::shared_ptr<PcmBuffer> output;
    try {
        output = std::make_shared<PcmBuffer>(target, static_cast<std::uint32_t>(capacity));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::string error;
    if (!converter->convert(*buffer, *output, error)) {
        SpeechText::log(events, name, "convert error: " + error);
        return nullptr;
    }
    if (output->frameLength() == 0) return nullptr;
    return output;
}

bool AnalyzerStream::waitForRoom(std::size_t limit, std::chrono::milliseconds timeout) {
    std::shared_ptr<platform::AnalyzerInputSequence> input;
    {
        std::lock_guard guard(lock);
        input = builder;
    }
    return !input || input->waitUntilFewerThan(limit, timeout);
}

bool AnalyzerStream::endInput() {
    std::shared_ptr<platform::AnalyzerInputSequence> taken;
    {
        std::lock_guard guard(lock);
        taken = std::move(builder);
        builder = nullptr;
    }
    if (!taken) return false;
    taken->finish();
    return true;
}

void AnalyzerStream::readResults(const std::shared_ptr<ResultsTask>& task,
                                 std::weak_ptr<AnalyzerStream> weak, std::string name,
                                 Events& events) {
    // Each callback runs on the main loop and is awaited, so they keep the engine's order. An
    // owner's callback that throws must not take the main loop or this thread down.
    auto onMain = [](const std::function<void()>& job) {
        MainLoop::runAndWait([&] {
            try {
                job();
            } catch (...) {
            }
        });
    };
    try {
        for (;;) {
            std::optional<platform::TranscriptionResult> result = task->results->next();
            if (!result || task->cancelled) break;
            const std::string text = SpeechText::trimmed(result->text);
            if (result->isFinal) {
                onMain([&] {
                    if (auto self = weak.lock(); self && self->onPartial) self->onPartial("");
                });
                if (text.empty()) continue;
                SpeechText::log(events, name,
                                "final segment (" + std::to_string(SpeechText::wordCount(text)) +
                                    " words)");
                onMain([&] {
                    if (auto self = weak.lock(); self && self->onCommit) self->onCommit(text);
                });
            } else {
                onMain([&] {
                    auto self = weak.lock();
                    if (!self) return;
                    const std::int64_t count = ++self->volatileCount;
                    if (count == 1 || count % 50 == 0)
                        SpeechText::log(events, name,
                                        "volatile #" + std::to_string(count) + " (" +
                                            std::to_string(SpeechText::characterCount(text)) +
                                            " chars)");
                    if (self->onPartial) self->onPartial(text);
                });
            }
        }
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        // Logged whatever the state: a failure after a cancel is still worth a line.
        SpeechText::log(events, name, "results error: " + errorDescription(error));
        // Only a failure while the input is still open is news to the owner; after finish()
        // or a failed start it has already ended the input itself.
        if (!task->cancelled)
            onMain([&] {
                auto self = weak.lock();
                if (self && self->endInput() && self->onFailure) self->onFailure(error);
            });
    }
    MainLoop::post([task] {
        task->ended = true;
        task->finished.notify();
    });
}

asio::awaitable<void> AnalyzerStream::awaitEnd(std::shared_ptr<ResultsTask> task) {
    while (!task->ended)
        co_await task->finished.wait();
}

asio::awaitable<void> AnalyzerStream::finish() {
    auto keep = weak_from_this().lock();
    endInput();
    // Taken out at once so that a second finish() meanwhile does not finalize it again.
    if (auto engine = std::exchange(analyzer, nullptr)) {
        std::optional<std::string> failure;
        try {
            auto finalizing =
                MainLoop::offload([engine] { engine->finalizeAndFinishThroughEndOfInput(); });
            co_await std::move(finalizing);
        } catch (...) {
            failure = errorDescription(std::current_exception());
        }
        if (failure) {
            SpeechText::log(events, name, "finalize error: " + *failure);
            if (resultsTask) resultsTask->cancel();
            auto cancelling = MainLoop::offload([engine] {
                try {
                    engine->cancelAndFinishNow();
                } catch (...) {
                    // finish() never fails; the finalize error is already logged.
                }
            });
            co_await std::move(cancelling);
        }
    }
    if (auto task = resultsTask) {
        auto ending = awaitEnd(task);
        co_await std::move(ending);
    }
    resultsTask = nullptr;
    analyzer = nullptr;
    {
        std::lock_guard guard(debugLock);
        recording = false;
        debugFile = nullptr; // closes the recording
    }
    SpeechText::log(events, name,
                    "finished (volatile results: " + std::to_string(volatileCount) + ")");
}

} // namespace tarvine
