#pragma once

#include "base/MainLoop.h"

#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>

// Unit tests play the main thread: they run the main loop's ready jobs between steps and move
// its clock forward instead of waiting.
namespace tarvine::fakes::loop {

// Runs every job that is ready now, including those the jobs queue.
void drain();

// Moves the timers' clock forward and runs whatever became due.
void advance(MainLoop::Clock::duration by);

// Runs the loop until `done` holds; false after `limit` of real time.
bool runUntil(const std::function<bool()>& done,
              std::chrono::milliseconds limit = std::chrono::seconds(10));

// Runs a coroutine on the main loop to its end and gives its result or rethrows its error.
template <class T> T await(asio::awaitable<T> work) {
    auto future = asio::co_spawn(MainLoop::context(), std::move(work), asio::use_future);
    if (!runUntil(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }))
        throw std::runtime_error("coroutine did not finish");
    return future.get();
}

} // namespace tarvine::fakes::loop
