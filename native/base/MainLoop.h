#pragma once

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <type_traits>

namespace tarvine::MainLoop {

// The clock that every timer of the program runs on: the steady clock, plus an offset
// that only unit tests move forward, so that 1.4 s silences or 60 ms throttles can be
// tested without waiting for them.
struct Clock {
    using duration = std::chrono::steady_clock::duration;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<Clock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept;
    static void advance(duration by) noexcept;
};

using Timer = asio::basic_waitable_timer<Clock>;

// The main thread's loop: all request handling, sessions and callbacks run on it.
asio::io_context& context();

// Runs the loop on the calling thread (which becomes the main thread) until stopped.
void run();

// True on the thread that runs the loop (or before it runs, on the thread that made it).
bool onMainThread();

// Queues a job on the main thread; callable from any thread.
void post(std::function<void()> job);

// Runs `job` on the main thread and blocks the calling thread until it has run. Called on
// the main thread itself, it runs the job at once.
void runAndWait(const std::function<void()>& job);

// Starts a coroutine on the main thread; its uncaught exceptions are discarded.
void spawn(asio::awaitable<void> work);

// The shared pool of asynchronous tasks.
asio::thread_pool& pool();

// Suspends the calling coroutine for `delay` without blocking the thread.
asio::awaitable<void> sleep(Clock::duration delay);

namespace detail {
template <class R, class F> asio::awaitable<R> invokeShared(std::shared_ptr<F> fn) {
    co_return (*fn)();
}
} // namespace detail

// Runs a blocking function on the shared pool and resumes the coroutine on its own
// executor with the result, or the exception the function threw.
//
// GCC 12 mishandles a lambda with captures that is a coroutine's by-value parameter, or a
// temporary inside a co_await expression (it is copied bytewise, then destroyed twice), so
// the function travels to the pool behind a shared_ptr, and callers pass a named lambda
// (std::move(job)) whenever it captures anything with a destructor, making the awaitable in a
// statement of its own: auto op = offload(std::move(job)); co_await std::move(op);
template <class F> auto offload(F fn) -> asio::awaitable<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    return asio::co_spawn(pool(), detail::invokeShared<R>(std::make_shared<F>(std::move(fn))),
                          asio::use_awaitable);
}

// Awaits two things concurrently and returns when both have finished.
inline asio::awaitable<void> both(asio::awaitable<void> a, asio::awaitable<void> b) {
    using namespace asio::experimental::awaitable_operators;
    co_await (std::move(a) && std::move(b));
}

} // namespace tarvine::MainLoop
