#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace tarvine::adapters {

// Runs `ask` on a thread of its own and waits for it at most `limit`; past that the answer
// is `fallback`. For questions to services that may hang (a stuck display or bus): the
// caller gets an answer in bounded time, and the abandoned thread ends whenever the
// service lets it go.
template <class T, class F> T bounded(std::chrono::milliseconds limit, T fallback, F ask) {
    auto promise = std::make_shared<std::promise<T>>();
    auto answer = promise->get_future();
    std::thread([promise, ask = std::move(ask)]() mutable {
        try {
            promise->set_value(ask());
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    }).detach();
    if (answer.wait_for(limit) != std::future_status::ready) return fallback;
    try {
        return answer.get();
    } catch (...) {
        return fallback;
    }
}

} // namespace tarvine::adapters
