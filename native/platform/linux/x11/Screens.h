#pragma once

#include "Desktop.h"
#include "platform/Screens.h"

namespace tarvine::adapters::x11 {

// Screens are the RandR monitors; the main screen is the one under the active window.
class Screens : public platform::Screens {
public:
    std::vector<platform::Screen> screens() override;
    std::optional<platform::Screen> mainScreen() override;
    Point mouseLocation() override;

private:
    Session session_;
};

} // namespace tarvine::adapters::x11
