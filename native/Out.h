#pragma once

#include "base/Events.h"
#include "base/Message.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvine {

// One line-oriented JSON writer: callers on any thread hand it messages, a single writer
// thread ("tarvine.stdout") writes them in order. When the reader falls behind, the
// high-rate event types are shed first; replies and other events are always kept.
class OutputChannel {
public:
    explicit OutputChannel(int fd);
    ~OutputChannel();
    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    void emit(const Message& message);
    void flush();

    // Messages accepted whose write has not finished yet.
    std::int64_t waiting();

    static bool isDisposable(const Message& message);

private:
    // Lines queued for the writer: their bytes back to back, and where each line ends.
    struct Lines {
        std::string bytes;
        std::vector<std::size_t> ends;
    };

    void writerLoop();
    void write(Lines& batch);

    const int fd_;
    std::mutex lock_;
    std::int64_t waiting_ = 0;

    std::mutex queueLock_;
    std::condition_variable queueReady_;   // lines to write, or closing
    std::condition_variable linesWritten_; // for flush()
    Lines queue_;
    std::uint64_t queued_ = 0;  // lines ever queued
    std::uint64_t written_ = 0; // lines ever written (or given up on)
    bool closing_ = false;
    bool writerIdle_ = false; // the writer sleeps and needs a wake-up

    std::thread writer_;
};

// The process's standard output channel.
namespace Out {

void emit(const Message& message);
void flush();
std::int64_t waiting();

// The events sink that writes to the process's output channel.
Events& events();

// Sends the process's output through another channel (unit tests); null restores stdout.
void redirect(OutputChannel* channel);

} // namespace Out

} // namespace tarvine
