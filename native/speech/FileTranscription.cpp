#include "FileTranscription.h"

#include "AnalyzerStream.h"
#include "AsyncMode.h"
#include "Out.h"
#include "base/AudioFile.h"
#include "base/HelperError.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace tarvine::FileTranscription {

namespace {

constexpr const char* usageText = "usage: tarvine-native transcribe <audio> <locale>";

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string clockText(std::int64_t seconds, bool withHours) {
    char text[32];
    if (withHours)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

// The progress line on a terminal, redrawn in place whenever its text changes and wiped
// before anything else is printed.
class TerminalProgress final : public Progress {
public:
    explicit TerminalProgress(int fd) : fd_(fd) {}

    void advanced(std::int64_t position, std::int64_t length, double sampleRate) override {
        std::string text = progressText(position, length, sampleRate);
        std::lock_guard guard(lock_);
        if (text.empty() || text == shown_) return;
        shown_ = std::move(text);
        writeAll(fd_, "\r" + shown_ + "\033[K");
    }

    void clear() {
        std::lock_guard guard(lock_);
        if (shown_.empty()) return;
        shown_.clear();
        writeAll(fd_, "\r\033[K");
    }

private:
    const int fd_;
    std::mutex lock_;
    std::string shown_;
};

// Hands the file to the stream block by block, never more than pendingLimit blocks ahead
// of the engine. Runs off the main loop, so results are gathered while it reads.
void feed(AudioFile& file, AnalyzerStream& stream, Progress* progress) {
    using namespace std::chrono_literals;
    const std::int64_t length = file.length();
    const double rate = file.processingFormat().sampleRate;
    std::int64_t position = 0;
    while (position < length) {
        // The engine takes input until the input ends, and an ended input always has room.
        while (!stream.waitForRoom(pendingLimit, 1s)) {
        }
        PcmBufferRef block = file.read(blockFrames);
        if (!block || block->frameLength() == 0) break;
        position += block->frameLength();
        stream.append(block);
        if (progress) progress->advanced(position, length, rate);
    }
}

asio::awaitable<int> transcribe(std::string path, std::string locale) {
    if (!platform::integration().speechAnalysis()) {
        AsyncMode::writeError("transcribe needs macOS 26");
        co_return 1;
    }
    std::unique_ptr<TerminalProgress> progress;
    if (::isatty(STDERR_FILENO)) progress = std::make_unique<TerminalProgress>(STDERR_FILENO);
    std::string transcript;
    std::optional<std::string> failure;
    try {
        auto running = run(std::move(path), std::move(locale), Out::events(), progress.get());
        transcript = co_await std::move(running);
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    if (progress) progress->clear();
    if (failure) {
        AsyncMode::writeError(*failure);
        co_return 1;
    }
    // The log lines go first, so the transcript ends the output.
    Out::flush();
    writeAll(STDOUT_FILENO, transcript + "\n");
    co_return 0;
}

} // namespace

std::string Parts::transcript() const {
    if (items.empty()) return "(partial) " + partial;
    std::string joined = items.front();
    for (std::size_t i = 1; i < items.size(); ++i)
        joined += " " + items[i];
    return joined;
}

std::string progressText(std::int64_t position, std::int64_t length, double sampleRate) {
    if (length <= 0 || !(sampleRate >= 1)) return "";
    position = std::clamp<std::int64_t>(position, 0, length);
    const auto seconds = [&](std::int64_t frames) {
        return static_cast<std::int64_t>(static_cast<double>(frames) / sampleRate);
    };
    const std::int64_t total = seconds(length);
    const bool hours = total >= 3600;
    const std::int64_t percent = static_cast<std::int64_t>(static_cast<double>(position) * 100.0 /
                                                           static_cast<double>(length));
    return std::to_string(percent) + "% " + clockText(seconds(position), hours) + " / " +
           clockText(total, hours);
}

asio::awaitable<std::string> run(std::string path, std::string locale, Events& events,
                                 Progress* progress) {
    std::shared_ptr<AudioFile> file = AudioFile::forReading(path);
    auto stream = AnalyzerStream::make(std::move(locale), "File", /*live*/ false, events);
    auto parts = std::make_shared<Parts>();
    stream->onCommit = [parts](const std::string& text) { parts->items.push_back(text); };
    stream->onPartial = [parts](const std::string& text) {
        // The "" that comes when a segment becomes final keeps the last volatile text.
        if (!text.empty()) parts->partial = text;
    };

    auto starting = stream->start();
    co_await std::move(starting);
    auto reading = [file, stream, progress] { feed(*file, *stream, progress); };
    auto feeding = MainLoop::offload(std::move(reading));
    co_await std::move(feeding);
    auto finishing = stream->finish();
    co_await std::move(finishing);
    co_return parts->transcript();
}

int transcribeMode(const std::vector<std::string>& args) {
    if (args.size() < 4) {
        AsyncMode::writeError(usageText);
        return 1;
    }
    AsyncMode::run(transcribe(args[2], args[3]));
}

} // namespace tarvine::FileTranscription
