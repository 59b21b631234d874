#pragma once

#include <optional>
#include <string>

namespace tarvine::adapters::xdg {

// What the desktop entry of an application says about it.
struct Application {
    std::string id;   // the desktop file id, without ".desktop"
    std::string name; // its Name
    std::string icon; // its Icon (a theme name or a path); may be empty
};

// The installed desktop entry of the application whose windows carry this WM_CLASS: one that
// declares it as StartupWMClass, else one whose file id is the class or instance name
// (compared without regard to case).
std::optional<Application> applicationForWindowClass(const std::string& instance,
                                                     const std::string& klass);

} // namespace tarvine::adapters::xdg
