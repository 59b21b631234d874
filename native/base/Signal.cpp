#include "base/Signal.h"

#include <algorithm>

namespace tarvine {

void Signal::notify() {
    ++generation_;
    for (auto* timer : waiters_)
        timer->cancel();
}

asio::awaitable<void> Signal::wait() {
    co_await waitUntil(MainLoop::Clock::time_point::max());
}

asio::awaitable<bool> Signal::waitUntil(MainLoop::Clock::time_point deadline) {
    const auto seen = generation_;
    MainLoop::Timer timer(co_await asio::this_coro::executor, deadline);
    // Unregistered also when the waiting coroutine is destroyed mid-wait.
    struct Registration {
        std::vector<MainLoop::Timer*>& list;
        MainLoop::Timer* timer;
        ~Registration() { list.erase(std::find(list.begin(), list.end(), timer)); }
    } registration{waiters_, &timer};
    waiters_.push_back(&timer);
    std::error_code ignored;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    co_return generation_ != seen;
}

} // namespace tarvine
