#pragma once

#include "platform/WindowList.h"

namespace tarvine::adapters::x11 {

// The window manager's stacking list of client windows, front to back.
class WindowList : public platform::WindowList {
public:
    std::vector<platform::WindowRecord> onScreenWindows() override;
};

} // namespace tarvine::adapters::x11
