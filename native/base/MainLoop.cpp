#include "MainLoop.h"

#include <atomic>
#include <thread>

namespace tarvine::MainLoop {

namespace {

std::atomic<Clock::rep> clockOffset{0};

std::thread::id& mainThreadId() {
    static std::thread::id id = std::this_thread::get_id();
    return id;
}

} // namespace

Clock::time_point Clock::now() noexcept {
    auto steady = std::chrono::steady_clock::now().time_since_epoch();
    return time_point(steady + duration(clockOffset.load(std::memory_order_relaxed)));
}

void Clock::advance(duration by) noexcept {
    clockOffset.fetch_add(by.count(), std::memory_order_relaxed);
}

asio::io_context& context() {
    static asio::io_context* loop = [] {
        mainThreadId();
        // Never destroyed: jobs may still be posted from other threads while the process ends.
        return new asio::io_context(1);
    }();
    return *loop;
}

void run() {
    mainThreadId() = std::this_thread::get_id();
    auto guard = asio::make_work_guard(context());
    context().run();
}

bool onMainThread() {
    return std::this_thread::get_id() == mainThreadId();
}

void post(std::function<void()> job) {
    asio::post(context(), std::move(job));
}

void runAndWait(const std::function<void()>& job) {
    if (onMainThread()) {
        job();
        return;
    }
    std::promise<void> done;
    asio::post(context(), [&] {
        job();
        done.set_value();
    });
    done.get_future().wait();
}

void spawn(asio::awaitable<void> work) {
    asio::co_spawn(context(), std::move(work), [](const std::exception_ptr&) {});
}

asio::thread_pool& pool() {
    static auto* shared = new asio::thread_pool(4);
    return *shared;
}

asio::awaitable<void> sleep(Clock::duration delay) {
    Timer timer(co_await asio::this_coro::executor, delay);
    co_await timer.async_wait(asio::use_awaitable);
}

} // namespace tarvine::MainLoop
