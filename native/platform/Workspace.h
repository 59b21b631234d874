#pragma once

#include "base/Png.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvine::platform {

// The application in front: the owner of the active window.
struct RunningApplication {
    std::string name; // may be empty
    std::int32_t pid = 0;
    // The bundle identifier's stand-in: the desktop entry's id, else the window class.
    std::optional<std::string> identifier;
    std::optional<RgbaImage> icon;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // The frontmost application, or none. `withIcon` also reads its icon.
    virtual std::optional<RunningApplication> frontmostApplication(bool withIcon) = 0;
};

} // namespace tarvine::platform
