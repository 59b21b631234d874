#include "LinuxIntegration.h"

#include "Bounded.h"
#include "atspi/AccessibilityBus.h"
#include "platform/Permissions.h"
#include "pulse/MicrophoneAuthorization.h"
#include "x11/Preflight.h"
#include "x11/WindowList.h"

namespace tarvine::adapters {

namespace {

using namespace std::chrono_literals;

// Each check gets this long before it counts as not granted, so that a report never hangs
// on a service that accepts a connection and then says nothing.
constexpr auto checkLimit = 2000ms;

class Permissions : public platform::Permissions {
public:
    AuthorizationStatus microphoneAuthorization() override {
        bool available = bounded(checkLimit + 500ms, false,
                                 [] { return pulse::microphoneAvailable(checkLimit); });
        return available ? AuthorizationStatus::authorized : AuthorizationStatus::denied;
    }
    bool screenCapturePreflight() override {
        return bounded(checkLimit, false, [] { return x11::screenCapturePreflight(); });
    }
    bool listenEventPreflight() override {
        return bounded(checkLimit, false, [] { return x11::inputMonitoringPreflight(); });
    }
    bool accessibilityTrusted() override {
        return bounded(checkLimit + 500ms, false,
                       [] { return atspi::accessibilityBusReachable(checkLimit); });
    }
};

class LinuxIntegration : public platform::Integration {
public:
    platform::Permissions& permissions() override { return permissions_; }
    platform::WindowList& windowList() override { return windowList_; }

private:
    Permissions permissions_;
    x11::WindowList windowList_;
};

} // namespace

std::unique_ptr<platform::Integration> makeIntegration() {
    return std::make_unique<LinuxIntegration>();
}

} // namespace tarvine::adapters
