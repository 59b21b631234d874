#pragma once

#include <memory>

namespace tarvine::platform {

class Accessibility;
class AudioEngine;
class EventTaps;
class KeyboardOutput;
class Pasteboard;
class Permissions;
class Screens;
class Screenshots;
class SpeechAnalysis;
class SpeechRecognition;
class SymbolCatalog;
class SystemAudioStream;
class WindowList;
class WindowManager;
class Workspace;

// The facilities the core asks of the platform, one narrow port each. The program installs
// the real platform at start; unit tests install fakes.
class Integration {
public:
    virtual ~Integration() = default;

    virtual Permissions& permissions() = 0;
    virtual WindowList& windowList() = 0;

    // A new capture engine of the default audio input.
    virtual std::unique_ptr<AudioEngine> makeAudioEngine() = 0;
    // A new capture of the system's audio output.
    virtual std::unique_ptr<SystemAudioStream> makeSystemAudioStream() = 0;
    // The older speech engine, or null where there is none.
    virtual SpeechRecognition* speechRecognition() = 0;
    // The newer speech engine, or null where there is none.
    virtual SpeechAnalysis* speechAnalysis() = 0;
    // The system symbols (the desktop's icon theme).
    virtual SymbolCatalog& symbolCatalog() = 0;

    virtual Screens& screens() = 0;
    virtual Screenshots& screenshots() = 0;
    virtual WindowManager& windowManager() = 0;
    // Listening to the user's keys and clicks system-wide.
    virtual EventTaps& eventTaps() = 0;

    // The general pasteboard; main loop only.
    virtual Pasteboard& pasteboard() = 0;
    // Synthetic keyboard input; main loop only.
    virtual KeyboardOutput& keyboardOutput() = 0;
    // Other applications' user interfaces; blocking calls, any one thread at a time.
    virtual Accessibility& accessibility() = 0;
    // The running applications; blocking calls.
    virtual Workspace& workspace() = 0;
};

// The installed integration. Calling it before one is installed is a programming error.
Integration& integration();
void install(std::unique_ptr<Integration> platform);

} // namespace tarvine::platform
