#include "Modes.h"

#include "Arguments.h"
#include "KeepAlive.h"
#include "Out.h"
#include "PermissionReport.h"
#include "assets/AssetModes.h"
#include "base/MainLoop.h"
#include "desktop/Capture.h"
#include "desktop/ScreenCommands.h"
#include "desktop/WindowCommands.h"
#include "desktop/ClipboardCommands.h"
#include "desktop/ModifierCommands.h"
#include "desktop/SelectionCommands.h"
#include "desktop/SnippetCommands.h"
#include "desktop/Snippets.h"
#include "desktop/TextCommands.h"
#include "platform/Platform.h"
#include "server/CommandTable.h"
#include "server/Server.h"
#include "server/SystemCommands.h"
#include "speech/DictationCommands.h"
#include "speech/FileTranscription.h"
#include "speech/ListenCommands.h"
#include "speech/Load.h"

#include <cmath>
#include <map>
#include <unistd.h>

namespace tarvine::Modes {

namespace {

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

int usage(const std::string& text) {
    writeAll(2, text + "\n");
    return 1;
}

Message number(double value) {
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 9e15)
        return static_cast<std::int64_t>(value);
    return value;
}

int serve(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--exclude-pid") continue;
        if (i + 1 < args.size())
            if (auto pid = Arguments::parseInt32(args[i + 1])) Capture::excludedPIDs().insert(*pid);
        break;
    }
    static KeepAlive keepAlive;
    // Every command set lives as long as the process; each registers its own commands.
    Events& events = Out::events();
    static CommandTable commands;
    static SystemCommands system;
    system.registerIn(commands);
    static ListenCommands listening(events);
    listening.registerIn(commands);
    static DictationCommands dictation(events);
    dictation.registerIn(commands);
    static ScreenCommands screen;
    screen.registerIn(commands);
    static WindowCommands windows;
    windows.registerIn(commands);
    static SnippetCommands snippets;
    snippets.registerIn(commands);
    static ModifierCommands modifiers(events);
    modifiers.registerIn(commands);
    static TextCommands text;
    text.registerIn(commands);
    static ClipboardCommands clipboard(events);
    clipboard.registerIn(commands);
    static SelectionCommands selection;
    selection.registerIn(commands);
    static Server server(commands, events, [] { Out::flush(); });
    MainLoop::post([] { server.run(); });
    MainLoop::run();
    return 0;
}

int permissions(const std::vector<std::string>&) {
    writeAll(1, permissionReport(platform::integration().permissions()).dump());
    return 0;
}

int settingsWindow(const std::vector<std::string>&) {
    auto bounds = settingsWindowBounds(platform::integration().windowList().onScreenWindows());
    if (!bounds) return 2;
    writeAll(1, bounds->dump());
    return 0;
}

int outputLoad(const std::vector<std::string>& args) {
    std::optional<std::int64_t> lines;
    if (args.size() >= 3) lines = Arguments::parseInteger(args[2]);
    if (!lines) return usage("usage: tarvine-native output-load <lines>");
    Load::output(*lines);
    return 0;
}

int textReplacements(const std::vector<std::string>&) {
    auto list = Snippets::macTextReplacements();
    if (!list) return 2;
    Message rows = Message::array();
    for (const auto& row : *list)
        rows.push_back(Message{{"abbreviation", row.abbreviation}, {"content", row.content}});
    // Text that is not UTF-8 in someone's database must not end the mode with an exception.
    writeAll(1, rows.dump(-1, ' ', false, Message::error_handler_t::replace));
    return 0;
}

} // namespace

Message boundsRecord(const Rect& rect) {
    return Message{{"X", number(rect.x)},
                   {"Y", number(rect.y)},
                   {"Width", number(rect.width)},
                   {"Height", number(rect.height)}};
}

std::optional<Message> settingsWindowBounds(const std::vector<platform::WindowRecord>& windows) {
    for (const auto& window : windows) {
        if (window.ownerName != "System Settings" || window.layer != 0) continue;
        if (!window.bounds) return std::nullopt;
        return boundsRecord(*window.bounds);
    }
    return std::nullopt;
}

int run(const std::vector<std::string>& args) {
    using Mode = int (*)(const std::vector<std::string>&);
    static const std::map<std::string, Mode> modes = {
        {"serve", serve},
        {"output-load", outputLoad},
        {"permissions", permissions},
        {"settings-window", settingsWindow},
        {"extract", AssetModes::extract},
        {"icon", AssetModes::icon},
        {"text-replacements", textReplacements},
        {"transcribe", FileTranscription::transcribeMode},
        {"soak", Load::soakMode},
    };
    auto found = args.size() >= 2 ? modes.find(args[1]) : modes.end();
    if (found == modes.end()) return usage(generalUsage);
    return found->second(args);
}

} // namespace tarvine::Modes
