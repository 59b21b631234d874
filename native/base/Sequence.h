#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>

namespace tarvine {

// A sequence of values handed from producers to one consumer across threads: producers
// yield, and finish it (or fail it with an error); the consumer takes values in order and
// waits when there are none. With a limit, only the newest `limit` pending values are kept
// and the oldest pending one is discarded for each newcomer beyond it.
template <class T> class Sequence {
public:
    static constexpr std::size_t unbounded = std::numeric_limits<std::size_t>::max();

    explicit Sequence(std::size_t limit = unbounded) : limit_(limit) {}

    // Returns false when the value was not kept (the sequence has ended); a value that pushed
    // out an older one still counts as kept.
    bool yield(T value) {
        {
            std::lock_guard guard(lock_);
            if (ended_) return false;
            if (limit_ == 0) return true;
            if (pending_.size() >= limit_) pending_.pop_front();
            pending_.push_back(std::move(value));
        }
        ready_.notify_one();
        return true;
    }

    // Ends the sequence after the pending values; later yields are ignored.
    void finish() { end(nullptr); }

    // Ends the sequence after the pending values with an error that next() then throws.
    void fail(std::exception_ptr error) { end(std::move(error)); }

    // The next value, waiting for one; none once the sequence has finished. Throws the
    // error of a failed sequence once its pending values are taken.
    std::optional<T> next() {
        std::unique_lock guard(lock_);
        ready_.wait(guard, [&] { return !pending_.empty() || ended_; });
        return take(guard);
    }

    // As next(), but gives up after `timeout` and returns none with timedOut set.
    template <class Rep, class Period>
    std::optional<T> next(std::chrono::duration<Rep, Period> timeout, bool& timedOut) {
        std::unique_lock guard(lock_);
        timedOut = !ready_.wait_for(guard, timeout, [&] { return !pending_.empty() || ended_; });
        if (timedOut) return std::nullopt;
        return take(guard);
    }

    // Waits until fewer than `count` values are pending or the sequence has ended; false when
    // `timeout` passed first. Lets a producer that is faster than its consumer keep pace.
    template <class Rep, class Period>
    bool waitUntilFewerThan(std::size_t count, std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock guard(lock_);
        ++roomWaiters_;
        const bool room =
            room_.wait_for(guard, timeout, [&] { return pending_.size() < count || ended_; });
        --roomWaiters_;
        return room;
    }

    std::size_t pendingCount() {
        std::lock_guard guard(lock_);
        return pending_.size();
    }

    bool ended() {
        std::lock_guard guard(lock_);
        return ended_;
    }

private:
    void end(std::exception_ptr error) {
        {
            std::lock_guard guard(lock_);
            if (ended_) return;
            ended_ = true;
            error_ = std::move(error);
        }
        ready_.notify_all();
        room_.notify_all();
    }

    std::optional<T> take(std::unique_lock<std::mutex>&) {
        if (!pending_.empty()) {
            T value = std::move(pending_.front());
            pending_.pop_front();
            if (roomWaiters_ > 0) room_.notify_all();
            return value;
        }
        if (error_) {
            auto error = error_;
            error_ = nullptr; // thrown once; afterwards the sequence simply ends
            std::rethrow_exception(error);
        }
        return std::nullopt;
    }

    const std::size_t limit_;
    std::mutex lock_;
    std::condition_variable ready_;
    std::condition_variable room_; // for producers waiting in waitUntilFewerThan()
    std::size_t roomWaiters_ = 0;
    std::deque<T> pending_;
    bool ended_ = false;
    std::exception_ptr error_;
};

} // namespace tarvine
