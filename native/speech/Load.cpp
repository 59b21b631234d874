#include "Load.h"

#include "AnalyzerStream.h"
#include "Arguments.h"
#include "AsyncMode.h"
#include "Out.h"
#include "base/AudioFile.h"
#include "base/HelperError.h"
#include "platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace tarvine::Load {

namespace {

// One transcript event. Built member by member: an initializer list would first build
// and then copy a temporary array for every member, which dominates the cost of a flood.
Message event(const char* type, const std::string& text) {
    Message message(Message::value_t::object);
    message["type"] = type;
    message["speaker"] = "them";
    message["text"] = text;
    return message;
}

void produce(std::int64_t lines) {
    for (std::int64_t i = 0; i < lines; ++i) {
        std::string words;
        for (int k = 1; k <= 12; ++k) {
            words += "word ";
            Out::emit(event("partial", words));
        }
        Out::emit(event("commit", "line " + std::to_string(i)));
    }
}

using SoakClock = std::chrono::steady_clock;
using Streams = std::vector<std::shared_ptr<AnalyzerStream>>;

double secondsSince(SoakClock::time_point start) {
    return std::chrono::duration<double>(SoakClock::now() - start).count();
}

// Plays the file into every stream in 20 ms blocks, block i due at start + i x 20 ms, so that
// a feeder that fell behind catches up instead of drifting. Ends by itself at the duration.
void feed(const std::string& path, SoakClock::time_point start, std::int64_t seconds,
          const Streams& streams) {
    std::unique_ptr<AudioFile> file;
    try {
        file = AudioFile::forReading(path);
    } catch (const std::exception&) {
        return; // the streams stay idle and the reports show it
    }
    const auto chunk = static_cast<std::uint32_t>(file->processingFormat().sampleRate / 50);
    for (std::int64_t i = 0; secondsSince(start) < static_cast<double>(seconds);) {
        if (file->framePosition() >= file->length()) file->setFramePosition(0);
        PcmBufferRef block;
        try {
            block = file->read(chunk);
        } catch (const std::exception&) {
            // A damaged stretch of the file is skipped; the run goes on.
        }
        if (block)
            for (const auto& stream : streams)
                stream->append(block);
        ++i;
        const auto due = start + std::chrono::duration_cast<SoakClock::duration>(
                                     std::chrono::duration<double>(0.02 * static_cast<double>(i)));
        if (due > SoakClock::now()) std::this_thread::sleep_until(due);
    }
}

void writeLine(int fd, const std::string& text) {
    const std::string line = text + "\n";
    [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
}

std::string counts(std::int64_t commits, std::int64_t failures) {
    char text[96];
    std::snprintf(text, sizeof text, "footprint=%.1fMB commits=%lld failures=%lld",
                  static_cast<double>(footprint()) / 1048576.0, static_cast<long long>(commits),
                  static_cast<long long>(failures));
    return text;
}

// Reads one "Name:   123 kB" field of /proc/self/smaps_rollup, in bytes.
std::optional<std::uint64_t> rollupField(const std::string& rollup, const std::string& name) {
    std::istringstream lines(rollup);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::istringstream fields(line.substr(name.size() + 1));
        std::uint64_t kilobytes = 0;
        if (fields >> kilobytes) return kilobytes * 1024;
    }
    return std::nullopt;
}

asio::awaitable<int> soakJob(std::string path, std::string locale, std::int64_t seconds) {
    if (!platform::integration().speechAnalysis()) {
        AsyncMode::writeError("soak needs macOS 26");
        co_return 1;
    }
    std::optional<std::string> failure;
    try {
        auto running = soak(std::move(path), std::move(locale), seconds, Out::events());
        co_await std::move(running);
    } catch (const std::exception& error) {
        failure = describe(error);
    }
    if (failure) {
        AsyncMode::writeError(*failure);
        co_return 1;
    }
    co_return 0;
}

} // namespace

std::uint64_t footprint() {
    std::ifstream rollupFile("/proc/self/smaps_rollup");
    if (rollupFile) {
        std::stringstream text;
        text << rollupFile.rdbuf();
        const std::string rollup = text.str();
        auto rss = rollupField(rollup, "Rss");
        auto sharedClean = rollupField(rollup, "Shared_Clean");
        if (rss) return *rss - std::min(*rss, sharedClean.value_or(0));
    }
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0, shared = 0;
    if (!(statm >> size >> resident >> shared)) return 0;
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return (resident - std::min(resident, shared)) * page;
}

asio::awaitable<void> soak(std::string path, std::string locale, std::int64_t seconds,
                           Events& events, int errorFd) {
    using namespace std::chrono_literals;
    // Counted on the main loop only, by the streams' callbacks.
    auto commits = std::make_shared<std::int64_t>(0);
    auto failures = std::make_shared<std::int64_t>(0);
    Streams streams;
    for (const char* name : {"Me", "Them"}) {
        auto stream = AnalyzerStream::make(locale, name, /*live*/ true, events);
        stream->onCommit = [commits](const std::string&) { ++*commits; };
        stream->onPartial = [](const std::string&) {};
        stream->onFailure = [failures](const std::exception_ptr&) { ++*failures; };
        auto starting = stream->start();
        co_await std::move(starting);
        streams.push_back(stream);
    }

    const SoakClock::time_point start = SoakClock::now();
    std::thread(feed, path, start, seconds, streams).detach();

    while (static_cast<double>(seconds) > secondsSince(start)) {
        auto waiting = MainLoop::sleep(30s);
        co_await std::move(waiting);
        writeLine(errorFd, "t=" + std::to_string(static_cast<std::int64_t>(secondsSince(start))) +
                               "s " + counts(*commits, *failures));
    }

    const SoakClock::time_point finishStart = SoakClock::now();
    for (const auto& stream : streams) {
        auto finishing = stream->finish();
        co_await std::move(finishing);
    }
    char took[32];
    std::snprintf(took, sizeof took, "%.2f", secondsSince(finishStart));
    writeLine(errorFd, std::string("finish took ") + took + "s " + counts(*commits, *failures));
}

int soakMode(const std::vector<std::string>& args) {
    std::optional<std::int64_t> seconds;
    if (args.size() >= 5) seconds = Arguments::parseInteger(args[4]);
    if (!seconds) {
        AsyncMode::writeError("usage: tarvine-native soak <audio> <locale> <seconds>");
        return 1;
    }
    AsyncMode::run(soakJob(args[2], args[3], *seconds));
}

void output(std::int64_t lines, int errorFd) {
    auto start = std::chrono::system_clock::now();
    // The producer runs on a thread of its own, as a listening session's engines do; joining
    // it is the moment every event has been handed over.
    std::thread producer(produce, lines < 0 ? 0 : lines);
    producer.join();
    auto elapsed = std::chrono::duration<double>(std::chrono::system_clock::now() - start);
    auto ms = static_cast<std::int64_t>(elapsed.count() * 1000.0);
    std::string report = "reported in " + std::to_string(ms) + " ms\n";
    [[maybe_unused]] auto written = ::write(errorFd, report.data(), report.size());
    Out::flush();
}

} // namespace tarvine::Load
