#pragma once

namespace tarvine::platform {

// The privacy checks behind the permission report. None of them may prompt the user, and
// each answers within a bounded time even when its facility does not respond.
class Permissions {
public:
    enum class AuthorizationStatus { notDetermined, restricted, denied, authorized };

    virtual ~Permissions() = default;

    // Capture authorisation for audio media (the microphone).
    virtual AuthorizationStatus microphoneAuthorization() = 0;
    // Asks for access to audio capture devices and waits for the answer (may block);
    // true when access is granted.
    virtual bool requestMicrophoneAccess() = 0;
    // The screen can be captured.
    virtual bool screenCapturePreflight() = 0;
    // Keyboard and mouse events can be listened to.
    virtual bool listenEventPreflight() = 0;
    // The process may read and drive other applications' user interfaces.
    virtual bool accessibilityTrusted() = 0;
};

} // namespace tarvine::platform
