#pragma once

#include <chrono>
#include <functional>
#include <uv.h>

namespace tarvine::glass {

// A one-shot timer on the host's libuv loop, firing on the main thread.
class LoopTimer {
public:
    explicit LoopTimer(uv_loop_t* loop);
    ~LoopTimer();
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    void start(std::chrono::milliseconds after, std::function<void()> fire);
    void stop();

private:
    struct Handle {
        uv_timer_t timer;
        std::function<void()> fire;
    };
    static void onTimer(uv_timer_t* timer);

    Handle* handle_;
};

} // namespace tarvine::glass
