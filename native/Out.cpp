#include "Out.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <pthread.h>
#include <unistd.h>

namespace tarvine {

namespace {

// A backlog of this many pending messages or more sheds the disposable event types.
constexpr std::int64_t dropThreshold = 255;

} // namespace

OutputChannel::OutputChannel(int fd) : fd_(fd), writer_([this] { writerLoop(); }) {}

OutputChannel::~OutputChannel() {
    {
        std::lock_guard guard(queueLock_);
        closing_ = true;
    }
    queueReady_.notify_one();
    writer_.join();
}

bool OutputChannel::isDisposable(const Message& message) {
    if (!message.is_object()) return false;
    auto type = message.find("type");
    if (type == message.end() || !type->is_string()) return false;
    const auto& name = type->get_ref<const std::string&>();
    return name == "partial" || name == "dictation.level" || name == "log";
}

void OutputChannel::emit(const Message& message) {
    const bool disposable = isDisposable(message);
    {
        std::lock_guard guard(lock_);
        if (waiting_ > dropThreshold && disposable) return;
        ++waiting_;
    }
    // Serialised into a buffer that the thread keeps, so that a flood allocates nothing per line.
    thread_local std::string line;
    try {
        // Text from the desktop may hold invalid UTF-8; replacing it keeps the line (and a
        // reply the host waits for) instead of losing it.
        line = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        std::lock_guard guard(lock_);
        --waiting_;
        return;
    }
    line.push_back('\n');
    bool wake;
    {
        std::lock_guard guard(queueLock_);
        queue_.bytes.append(line);
        queue_.ends.push_back(queue_.bytes.size());
        // One huge reply should not pin its size in every emitting thread for good.
        if (line.capacity() > (1u << 20)) std::string().swap(line);
        ++queued_;
        wake = writerIdle_;
        writerIdle_ = false;
    }
    // Waking a writer that is busy anyway would cost a system call per line.
    if (wake) queueReady_.notify_one();
}

void OutputChannel::flush() {
    std::unique_lock guard(queueLock_);
    const std::uint64_t target = queued_;
    linesWritten_.wait(guard, [&] { return written_ >= target; });
}

std::int64_t OutputChannel::waiting() {
    std::lock_guard guard(lock_);
    return waiting_;
}

void OutputChannel::writerLoop() {
    pthread_setname_np(pthread_self(), "tarvine.stdout");
    Lines batch;
    for (;;) {
        {
            std::unique_lock guard(queueLock_);
            while (!closing_ && queue_.ends.empty()) {
                writerIdle_ = true;
                queueReady_.wait(guard);
            }
            if (queue_.ends.empty()) return;
            // Swapping keeps both buffers' capacity: after warm-up nothing is allocated.
            std::swap(batch, queue_);
        }
        write(batch);
        batch.bytes.clear();
        batch.ends.clear();
    }
}

// Writes the batch with as few system calls as the pipe allows; each line's counter is
// released as soon as its last byte is written.
void OutputChannel::write(Lines& batch) {
    std::size_t offset = 0;
    std::size_t line = 0;
    while (line < batch.ends.size()) {
        ssize_t count = ::write(fd_, batch.bytes.data() + offset, batch.bytes.size() - offset);
        if (count < 0 && errno == EINTR) continue;
        // A closed or broken output is not reported; its lines are counted as done.
        offset = count < 0 ? batch.bytes.size() : offset + static_cast<std::size_t>(count);
        std::size_t done = 0;
        while (line < batch.ends.size() && batch.ends[line] <= offset)
            ++line, ++done;
        if (done == 0) continue;
        {
            std::lock_guard guard(lock_);
            waiting_ -= static_cast<std::int64_t>(done);
        }
        {
            std::lock_guard guard(queueLock_);
            written_ += done;
        }
        linesWritten_.notify_all();
    }
}

namespace Out {

namespace {
std::atomic<OutputChannel*> redirected{nullptr};

OutputChannel& standardOutput() {
    if (OutputChannel* channel = redirected.load()) return *channel;
    // Never destroyed: other threads may still emit while the process ends.
    static auto* channel = new OutputChannel(STDOUT_FILENO);
    return *channel;
}
} // namespace

void redirect(OutputChannel* channel) {
    redirected.store(channel);
}

void emit(const Message& message) {
    standardOutput().emit(message);
}
void flush() {
    standardOutput().flush();
}
std::int64_t waiting() {
    return standardOutput().waiting();
}

Events& events() {
    struct Output final : Events {
        void emit(const Message& event) override { Out::emit(event); }
    };
    static Output output;
    return output;
}

} // namespace Out

} // namespace tarvine
