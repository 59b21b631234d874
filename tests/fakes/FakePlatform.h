#pragma once

#include "FakeDesktop.h"
#include "FakeEventTaps.h"
#include "platform/AudioEngine.h"
#include "platform/Permissions.h"
#include "platform/Platform.h"
#include "platform/Screens.h"
#include "platform/Screenshots.h"
#include "platform/SpeechAnalyzer.h"
#include "platform/SpeechRecognizer.h"
#include "platform/SymbolCatalog.h"
#include "platform/SystemAudio.h"
#include "platform/WindowList.h"
#include "platform/WindowManager.h"

#include <functional>
#include <future>
#include <map>

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

// Symbols by name, each drawn by the SVG file it maps to.
class FakeSymbolCatalog : public platform::SymbolCatalog {
public:
    std::map<std::string, std::string> files;
    std::optional<std::string> symbolFile(const std::string& name) override {
        auto found = files.find(name);
        if (found == files.end()) return std::nullopt;
        return found->second;
    }
};

class FakeScreens : public platform::Screens {
public:
    std::vector<platform::Screen> list;
    std::optional<platform::Screen> main;
    Point mouse;

    std::vector<platform::Screen> screens() override { return list; }
    std::optional<platform::Screen> mainScreen() override { return main; }
    Point mouseLocation() override { return mouse; }
};

// Answers with the content it is given and records each screenshot asked for; the image is
// the requested size, filled with `colour`.
class FakeScreenshots : public platform::Screenshots {
public:
    struct Shot {
        platform::ContentFilter filter;
        int width = 0;
        int height = 0;
    };
    platform::ShareableContent content;
    std::vector<Shot> shots;
    std::uint32_t colour = 0xffffff;

    platform::ShareableContent shareableContent() override { return content; }
    Image screenshot(const platform::ContentFilter& filter, int width, int height) override {
        shots.push_back({filter, width, height});
        Image image(width, height);
        std::fill(image.pixels.begin(), image.pixels.end(), colour);
        return image;
    }
};

// One window whose frame follows every change asked of it.
class FakeWindowManager : public platform::WindowManager {
public:
    std::optional<Window> focused;
    Rect windowFrame;
    std::vector<std::string> calls;

    std::optional<Window> focusedWindow() override { return focused; }
    Rect frame(Window) override { return windowFrame; }
    void setSize(Window, Size size) override {
        calls.push_back("size");
        windowFrame.width = size.width;
        windowFrame.height = size.height;
    }
    void setPosition(Window, Point origin) override {
        calls.push_back("position");
        windowFrame.x = origin.x;
        windowFrame.y = origin.y;
    }
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

    FakeSymbolCatalog fakeSymbols;
    platform::SymbolCatalog& symbolCatalog() override { return fakeSymbols; }
    FakeScreens fakeScreens;
    FakeScreenshots fakeScreenshots;
    FakeWindowManager fakeWindowManager;
    platform::Screens& screens() override { return fakeScreens; }
    platform::Screenshots& screenshots() override { return fakeScreenshots; }
    platform::WindowManager& windowManager() override { return fakeWindowManager; }
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
