#pragma once

#include "base/Message.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>

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
    struct Job {
        std::string bytes;
        std::promise<void>* flushed = nullptr;
    };

    void enqueue(Job job);
    void writerLoop();
    void writeBatch(std::deque<Job>& batch);

    const int fd_;
    std::mutex lock_;
    std::int64_t waiting_ = 0;

    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<Job> queue_;
    bool closing_ = false;
    bool writerIdle_ = false; // the writer sleeps and needs a wake-up

    std::thread writer_;
};

// The process's standard output channel.
namespace Out {

void emit(const Message& message);
void flush();
std::int64_t waiting();

// Sends the process's output through another channel (unit tests); null restores stdout.
void redirect(OutputChannel* channel);

} // namespace Out

} // namespace tarvine
