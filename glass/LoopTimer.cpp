#include "LoopTimer.h"

namespace tarvine::glass {

LoopTimer::LoopTimer(uv_loop_t* loop) : handle_(new Handle{}) {
    uv_timer_init(loop, &handle_->timer);
    handle_->timer.data = handle_;
}

LoopTimer::~LoopTimer() {
    uv_timer_stop(&handle_->timer);
    handle_->fire = nullptr;
    // libuv owns the handle until its close callback, which frees it.
    uv_close(reinterpret_cast<uv_handle_t*>(&handle_->timer),
             [](uv_handle_t* timer) { delete static_cast<Handle*>(timer->data); });
}

void LoopTimer::start(std::chrono::milliseconds after, std::function<void()> fire) {
    handle_->fire = std::move(fire);
    uv_timer_start(&handle_->timer, &LoopTimer::onTimer, static_cast<std::uint64_t>(after.count()),
                   0);
}

void LoopTimer::stop() {
    uv_timer_stop(&handle_->timer);
    handle_->fire = nullptr;
}

void LoopTimer::onTimer(uv_timer_t* timer) {
    // The callback may destroy the timer's owner: it runs from a copy.
    auto fire = static_cast<Handle*>(timer->data)->fire;
    if (fire) fire();
}

} // namespace tarvine::glass
