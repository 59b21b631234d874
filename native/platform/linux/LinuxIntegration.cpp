#include "LinuxIntegration.h"

#include "Bounded.h"
#include "atspi/Accessibility.h"
#include "atspi/AccessibilityBus.h"
#include "platform/Permissions.h"
#include "pulse/AudioEngine.h"
#include "pulse/MicrophoneAuthorization.h"
#include "pulse/SystemAudio.h"
#include "sphinx/Analysis.h"
#include "sphinx/Recognition.h"
#include "x11/ActiveWindow.h"
#include "x11/EventTap.h"
#include "x11/KeyboardOutput.h"
#include "x11/Pasteboard.h"
#include "x11/Preflight.h"
#include "x11/Screens.h"
#include "x11/Screenshot.h"
#include "x11/WindowList.h"
#include "xdg/IconTheme.h"
#include "x11/WindowManager.h"

#include <mutex>

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
    // Nothing to ask on this desktop: access is the availability of an input.
    bool requestMicrophoneAccess() override {
        return microphoneAuthorization() == AuthorizationStatus::authorized;
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

    std::unique_ptr<platform::AudioEngine> makeAudioEngine() override {
        return pulse::makeAudioEngine();
    }
    std::unique_ptr<platform::SystemAudioStream> makeSystemAudioStream() override {
        return pulse::makeSystemAudioStream();
    }
    platform::SpeechRecognition* speechRecognition() override {
        std::call_once(recognitionMade_, [&] { recognition_ = sphinx::makeSpeechRecognition(); });
        return recognition_.get();
    }
    platform::SpeechAnalysis* speechAnalysis() override {
        std::call_once(analysisMade_, [&] { analysis_ = sphinx::makeSpeechAnalysis(); });
        return analysis_.get();
    }
    platform::SymbolCatalog& symbolCatalog() override { return symbols_; }
    platform::Screens& screens() override { return screens_; }
    platform::Screenshots& screenshots() override { return screenshots_; }
    platform::WindowManager& windowManager() override { return windowManager_; }
    platform::EventTaps& eventTaps() override { return eventTaps_; }
    platform::Pasteboard& pasteboard() override { return *pasteboard_; }
    platform::KeyboardOutput& keyboardOutput() override { return *keyboardOutput_; }
    platform::Accessibility& accessibility() override { return *accessibility_; }
    platform::Workspace& workspace() override { return workspace_; }

private:
    Permissions permissions_;
    x11::WindowList windowList_;
    std::once_flag recognitionMade_, analysisMade_;
    std::unique_ptr<platform::SpeechRecognition> recognition_;
    std::unique_ptr<platform::SpeechAnalysis> analysis_;
    xdg::IconThemeSymbols symbols_;
    x11::Screens screens_;
    x11::Screenshots screenshots_;
    x11::WindowManager windowManager_;
    x11::EventTaps eventTaps_;
    std::unique_ptr<platform::Pasteboard> pasteboard_ = x11::makePasteboard();
    std::unique_ptr<platform::KeyboardOutput> keyboardOutput_ = x11::makeKeyboardOutput();
    std::unique_ptr<platform::Accessibility> accessibility_ = atspi::makeAccessibility();
    x11::ActiveWindow workspace_;
};

} // namespace

std::unique_ptr<platform::Integration> makeIntegration() {
    return std::make_unique<LinuxIntegration>();
}

} // namespace tarvine::adapters
