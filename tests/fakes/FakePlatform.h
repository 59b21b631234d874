#pragma once

#include "FakeDesktop.h"
#include "FakeEventTaps.h"
#include "platform/AudioEngine.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/SpeechAnalyzer.h"
#include "platform/SpeechRecognizer.h"
#include "platform/SystemAudio.h"
#include "platform/WindowList.h"

#include <functional>
#include <future>

namespace tarvine::fakes {

class FakePermissions : public platform::Permissions {
public:
    AuthorizationStatus microphone = AuthorizationStatus::notDetermined;
    bool screen = false;
    bool input = false;
    bool accessibility = false;
    bool microphoneAccess = true;
    // When valid, the microphone request waits for it, as a user takes time to answer.
    std::shared_future<void> microphoneGate;

    AuthorizationStatus microphoneAuthorization() override { return microphone; }
    bool requestMicrophoneAccess() override {
        if (microphoneGate.valid()) microphoneGate.wait();
        return microphoneAccess;
    }
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

    // Tests that need audio or speech set these; unset, the facility is missing.
    std::function<std::unique_ptr<platform::AudioEngine>()> audioEngineFactory;
    std::function<std::unique_ptr<platform::SystemAudioStream>()> systemAudioFactory;
    platform::SpeechRecognition* recognition = nullptr;
    platform::SpeechAnalysis* analysis = nullptr;

    std::unique_ptr<platform::AudioEngine> makeAudioEngine() override {
        return audioEngineFactory ? audioEngineFactory() : nullptr;
    }
    std::unique_ptr<platform::SystemAudioStream> makeSystemAudioStream() override {
        return systemAudioFactory ? systemAudioFactory() : nullptr;
    }
    platform::SpeechRecognition* speechRecognition() override { return recognition; }
    platform::SpeechAnalysis* speechAnalysis() override { return analysis; }

    FakeEventTaps fakeEventTaps;
    platform::EventTaps& eventTaps() override { return fakeEventTaps; }
    FakePasteboard fakePasteboard;
    FakeKeyboardOutput fakeKeyboard;
    FakeAccessibility fakeAccessibility;
    FakeWorkspace fakeWorkspace;

    platform::Pasteboard& pasteboard() override { return fakePasteboard; }
    platform::KeyboardOutput& keyboardOutput() override { return fakeKeyboard; }
    platform::Accessibility& accessibility() override { return fakeAccessibility; }
    platform::Workspace& workspace() override { return fakeWorkspace; }
};

// Installs a fresh fake platform and returns it; the platform owns it.
FakeIntegration& installFakePlatform();

} // namespace tarvine::fakes
