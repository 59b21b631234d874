#pragma once

#include "base/MainLoop.h"
#include "platform/EventTap.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tarvine {

// Lone, short taps of the right-hand modifier keys, anywhere on the desktop: a key counts
// when it went down with no other modifier held and came up within 0.8 s with nothing else
// pressed in between. Main loop only.
class ModifierTaps {
public:
    struct Key {
        std::string name;
        std::uint64_t mask;   // the generic flag of its kind
        std::uint64_t device; // the device-dependent bit of this right-hand key
    };
    using OnTap = std::function<void(const std::string& name)>;

    static const std::map<std::int64_t, Key>& keys();

    // True when the tap exists; the callback then replaces any earlier one.
    bool watch(OnTap onTap);
    void handle(const platform::InputEvent& event);

private:
    void keyChanged(std::int64_t keyCode, const Key& key, std::uint64_t flags);

    std::unique_ptr<platform::EventTap> tap_;
    std::optional<std::int64_t> down_;
    MainLoop::Clock::time_point downAt_{};
    OnTap onTap_;
    bool asked_ = false;
};

} // namespace tarvine
