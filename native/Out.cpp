#include "Out.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <sys/uio.h>
#include <unistd.h>

namespace tarvine {

namespace {

// A backlog of this many pending messages or more sheds the disposable event types.
constexpr std::int64_t dropThreshold = 255;
// Enough lines per system call to amortise it, few enough to keep the counter live.
constexpr std::size_t maxBatch = 64;

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
    std::string bytes;
    try {
        // Text from the desktop may hold invalid UTF-8; replacing it keeps the line (and a
        // reply the host waits for) instead of losing it.
        bytes = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        std::lock_guard guard(lock_);
        --waiting_;
        return;
    }
    bytes.push_back('\n');
    enqueue(Job{std::move(bytes)});
}

void OutputChannel::enqueue(Job job) {
    bool wake;
    {
        std::lock_guard guard(queueLock_);
        queue_.push_back(std::move(job));
        wake = writerIdle_;
        writerIdle_ = false;
    }
    // Waking a writer that is busy anyway would cost a system call per line.
    if (wake) queueReady_.notify_one();
}

void OutputChannel::flush() {
    std::promise<void> flushed;
    auto done = flushed.get_future();
    enqueue(Job{{}, &flushed});
    done.wait();
}

std::int64_t OutputChannel::waiting() {
    std::lock_guard guard(lock_);
    return waiting_;
}

void OutputChannel::writerLoop() {
    std::deque<Job> batch;
    for (;;) {
        {
            std::unique_lock guard(queueLock_);
            while (!closing_ && queue_.empty()) {
                writerIdle_ = true;
                queueReady_.wait(guard);
            }
            if (queue_.empty()) return;
            while (!queue_.empty() && batch.size() < maxBatch) {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            }
        }
        writeBatch(batch);
        batch.clear();
    }
}

// Writes consecutive lines with one writev where it can; each line's counter is released
// as soon as its last byte is written, and a flush marker completes only after every line
// before it.
void OutputChannel::writeBatch(std::deque<Job>& batch) {
    std::size_t next = 0;
    std::size_t offset = 0; // bytes of batch[next] already written
    bool failed = false;
    while (next < batch.size()) {
        if (batch[next].flushed) {
            batch[next].flushed->set_value();
            ++next;
            continue;
        }
        iovec parts[maxBatch];
        int count = 0;
        for (std::size_t i = next; i < batch.size() && !batch[i].flushed; ++i) {
            const std::string& bytes = batch[i].bytes;
            std::size_t skip = i == next ? offset : 0;
            parts[count++] = {const_cast<char*>(bytes.data() + skip), bytes.size() - skip};
        }
        ssize_t written = failed ? -1 : ::writev(fd_, parts, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) {
            // A closed or broken output is not reported; the lines are counted as done.
            failed = true;
            written = 0;
            offset = 0;
            std::size_t done = 0;
            while (next < batch.size() && !batch[next].flushed)
                ++next, ++done;
            std::lock_guard guard(lock_);
            waiting_ -= static_cast<std::int64_t>(done);
            continue;
        }
        auto remaining = static_cast<std::size_t>(written);
        std::int64_t done = 0;
        while (next < batch.size() && !batch[next].flushed) {
            std::size_t left = batch[next].bytes.size() - offset;
            if (remaining < left) {
                offset += remaining;
                break;
            }
            remaining -= left;
            offset = 0;
            ++next;
            ++done;
        }
        if (done > 0) {
            std::lock_guard guard(lock_);
            waiting_ -= done;
        }
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

} // namespace Out

} // namespace tarvine
