#pragma once

#include <string_view>

namespace tarvine {

// The two sides of a conversation: the microphone (the user) and the system audio.
enum class Speaker { me, them };

constexpr std::string_view rawValue(Speaker speaker) {
    return speaker == Speaker::me ? "me" : "them";
}

// How the speech engines name the channel of each side in their log lines.
constexpr std::string_view channelName(Speaker speaker) {
    return speaker == Speaker::me ? "Me" : "Them";
}

} // namespace tarvine
