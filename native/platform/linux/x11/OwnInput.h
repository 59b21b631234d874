#pragma once

#include <atomic>
#include <chrono>

namespace tarvine::adapters::x11 {

// Input this process injects through XTest reaches the key hooks from the XTest device, the
// same device other clients (xdotool) inject through. Injectors hold a Scope while they
// post; hooks count XTest events as their own while one is held and shortly after, since
// the server delivers the events after the injector's last request. Any thread.
class OwnInput {
public:
    class Scope {
    public:
        explicit Scope(OwnInput& owner) : owner_(owner) { ++owner_.injecting_; }
        ~Scope() {
            owner_.lastEnded_ = std::chrono::steady_clock::now().time_since_epoch().count();
            --owner_.injecting_;
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        OwnInput& owner_;
    };

    bool active() const {
        if (injecting_ > 0) return true;
        auto since = std::chrono::steady_clock::now().time_since_epoch() -
                     std::chrono::steady_clock::duration(lastEnded_.load());
        return since < grace;
    }

private:
    static constexpr std::chrono::milliseconds grace{250};

    std::atomic<int> injecting_{0};
    std::atomic<std::chrono::steady_clock::rep> lastEnded_{
        (std::chrono::steady_clock::now() - std::chrono::hours(1)).time_since_epoch().count()};
};

} // namespace tarvine::adapters::x11
