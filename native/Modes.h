#pragma once

#include "base/Message.h"
#include "platform/WindowList.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvine::Modes {

inline constexpr const char* generalUsage =
    "usage: tarvine-native serve|extract|icon|transcribe|soak|output-load|permissions|"
    "settings-window|text-replacements";

// Runs the mode named by args[1] and returns the process's exit status (serve never returns).
int run(const std::vector<std::string>& args);

// The bounds of the frontmost normal window whose application is named "System Settings".
std::optional<Message> settingsWindowBounds(const std::vector<platform::WindowRecord>& windows);

// A rectangle as the window server's bounds record: {"X","Y","Width","Height"}.
Message boundsRecord(const Rect& rect);

} // namespace tarvine::Modes
