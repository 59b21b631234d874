#pragma once

#include <memory>

namespace tarvine::platform {

class Permissions;
class WindowList;

// The facilities the core asks of the platform, one narrow port each. The program installs
// the real platform at start; unit tests install fakes.
class Integration {
public:
    virtual ~Integration() = default;

    virtual Permissions& permissions() = 0;
    virtual WindowList& windowList() = 0;
};

// The installed integration. Calling it before one is installed is a programming error.
Integration& integration();
void install(std::unique_ptr<Integration> platform);

} // namespace tarvine::platform
