#pragma once

#include "platform/Workspace.h"

namespace tarvine::adapters::x11 {

// The frontmost application is the owner of the active window (_NET_ACTIVE_WINDOW): its pid,
// its desktop entry found by WM_CLASS (name, id, theme icon), and its icon from _NET_WM_ICON
// or else the theme. Blocking; opens a connection of its own per call, so any thread may ask.
class ActiveWindow : public platform::Workspace {
public:
    std::optional<platform::RunningApplication> frontmostApplication(bool withIcon) override;
};

} // namespace tarvine::adapters::x11
