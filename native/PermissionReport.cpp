#include "PermissionReport.h"

#include <future>

namespace tarvine {

namespace {

const char* microphoneText(platform::Permissions::AuthorizationStatus status) {
    using Status = platform::Permissions::AuthorizationStatus;
    switch (status) {
    case Status::authorized:
        return "granted";
    case Status::notDetermined:
        return "not-determined";
    case Status::restricted:
    case Status::denied:
        return "denied";
    }
    return "denied";
}

const char* grantedText(bool granted) {
    return granted ? "granted" : "denied";
}

} // namespace

Message permissionReport(platform::Permissions& permissions) {
    // The four checks talk to four different services; asking them side by side keeps the
    // report as quick as the slowest one instead of the sum of all.
    auto microphone = std::async(
        std::launch::async, [&] { return microphoneText(permissions.microphoneAuthorization()); });
    auto screen = std::async(std::launch::async,
                             [&] { return grantedText(permissions.screenCapturePreflight()); });
    auto input = std::async(std::launch::async,
                            [&] { return grantedText(permissions.listenEventPreflight()); });
    const char* accessibility = grantedText(permissions.accessibilityTrusted());
    return Message{{"microphone", microphone.get()},
                   {"screen", screen.get()},
                   {"inputMonitoring", input.get()},
                   {"accessibility", accessibility}};
}

} // namespace tarvine
