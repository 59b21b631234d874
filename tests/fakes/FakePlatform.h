#pragma once

#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/WindowList.h"

namespace tarvine::fakes {

class FakePermissions : public platform::Permissions {
public:
    AuthorizationStatus microphone = AuthorizationStatus::notDetermined;
    bool screen = false;
    bool input = false;
    bool accessibility = false;

    AuthorizationStatus microphoneAuthorization() override { return microphone; }
    bool screenCapturePreflight() override { return screen; }
    bool listenEventPreflight() override { return input; }
    bool accessibilityTrusted() override { return accessibility; }
};

class FakeWindowList : public platform::WindowList {
public:
    std::vector<platform::WindowRecord> windows;
    std::vector<platform::WindowRecord> onScreenWindows() override { return windows; }
};

class FakeIntegration : public platform::Integration {
public:
    FakePermissions fakePermissions;
    FakeWindowList fakeWindowList;

    platform::Permissions& permissions() override { return fakePermissions; }
    platform::WindowList& windowList() override { return fakeWindowList; }
};

// Installs a fresh fake platform and returns it; the platform owns it.
FakeIntegration& installFakePlatform();

} // namespace tarvine::fakes
