#pragma once

#include "base/MainLoop.h"

#include <cstdint>
#include <vector>

namespace tarvine {

// A condition that main-loop coroutines wait for and main-loop code announces: the waiter
// checks its condition, and if it does not hold yet, awaits the next notify(). Replaces
// polling; main loop only.
//
//     while (inFlight_ > 0) co_await idle_.wait();
class Signal {
public:
    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // Wakes every coroutine waiting now.
    void notify();

    asio::awaitable<void> wait();
    // False when the deadline passed before a notify().
    asio::awaitable<bool> waitUntil(MainLoop::Clock::time_point deadline);

private:
    std::vector<MainLoop::Timer*> waiters_;
    std::uint64_t generation_ = 0;
};

} // namespace tarvine
