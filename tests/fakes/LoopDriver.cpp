#include "LoopDriver.h"

#include <thread>

namespace tarvine::fakes::loop {

void drain() {
    auto& context = MainLoop::context();
    do {
        context.restart();
    } while (context.poll() > 0);
}

void advance(MainLoop::Clock::duration by) {
    MainLoop::Clock::advance(by);
    // The reactor only rechecks its timers when its own timer descriptor fires, which follows
    // real time. A timer due at once on another clock makes it recheck all of them now.
    asio::steady_timer kick(MainLoop::context(), std::chrono::nanoseconds(0));
    bool kicked = false;
    kick.async_wait([&](const std::error_code&) { kicked = true; });
    while (!kicked) {
        MainLoop::context().restart();
        MainLoop::context().run_one_for(std::chrono::milliseconds(10));
    }
    drain();
}

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto& context = MainLoop::context();
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        context.restart();
        context.run_one_for(std::chrono::milliseconds(2));
    }
    drain();
    return true;
}

} // namespace tarvine::fakes::loop
