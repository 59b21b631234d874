#pragma once

#include "platform/EventTap.h"

#include <functional>
#include <memory>
#include <vector>

namespace tarvine::fakes {

// Taps that tests feed with synthetic events, and a record of the key presses posted.
class FakeEventTaps : public platform::EventTaps {
public:
    struct Tap {
        Placement placement = Placement::tailAppend;
        std::uint64_t mask = 0;
        Callback callback;
        int enables = 0;
        bool alive = true;
    };

    bool creatable = true;
    int accessRequests = 0;
    std::vector<std::shared_ptr<Tap>> taps;
    // Called for each postKeyPresses(), after it is recorded.
    std::function<void(std::int64_t keyCode, int count)> onPost;
    std::vector<std::pair<std::int64_t, int>> posted;

    std::unique_ptr<platform::EventTap> create(Placement placement, std::uint64_t mask,
                                               Callback callback) override;
    void requestListenEventAccess() override { ++accessRequests; }
    void postKeyPresses(std::int64_t keyCode, int count) override;

    // Hands the event to every live tap that asked for its type; disabled notifications
    // reach every live tap.
    void send(const platform::InputEvent& event);
    void send(platform::EventType type) { send(platform::InputEvent{.type = type}); }
    // A key down with this code and text (and flags).
    void key(std::int64_t keyCode, const std::string& text, std::uint64_t flags = 0);
    // A key down for each Unicode scalar of the text, as the character keys would give them.
    void type(const std::string& text);
    // A flag change of `keyCode` with the flags after it.
    void flags(std::int64_t keyCode, std::uint64_t flags);
};

} // namespace tarvine::fakes
