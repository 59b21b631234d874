#pragma once

#include "OwnInput.h"
#include "platform/EventTap.h"

namespace tarvine::adapters::x11 {

// The event-tap port on X11: XInput2 raw key and button events of the master devices on the
// root window (seen during other clients' grabs too), keys named by their XKB position, their
// text from xkbcommon with the keyboard state the server announces, and key presses posted
// through XTest.
class EventTaps : public platform::EventTaps {
public:
    std::unique_ptr<platform::EventTap> create(Placement placement, std::uint64_t mask,
                                               Callback callback) override;
    // X has no access request: XInput2 on the display is the access.
    void requestListenEventAccess() override {}
    void postKeyPresses(std::int64_t keyCode, int count) override;

    // What injectors of this process mark their XTest input with.
    OwnInput& ownInput() { return ownInput_; }

private:
    OwnInput ownInput_;
};

} // namespace tarvine::adapters::x11
