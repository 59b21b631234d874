#pragma once

#include "base/Events.h"

#include <cstdint>
#include <string>
#include <string_view>

// Small text measures that both speech engines use in their log lines and commits.
namespace tarvine::SpeechText {

// `text` without white space and line breaks at either end (ASCII and Unicode spaces, line and
// paragraph separators, NEL).
std::string trimmed(std::string_view text);

// User-perceived characters of UTF-8 text: combining marks, variation selectors, emoji
// modifiers and ZWJ sequences join the character before them, a pair of regional indicators
// is one flag and CR LF is one character. Invalid bytes count one each.
std::int64_t characterCount(std::string_view text);

// Runs of characters between single spaces; tabs and line breaks do not separate words.
std::int64_t wordCount(std::string_view text);

// A sample rate as a floating-point number in its shortest form with at least one fractional
// digit: 48000 -> "48000.0", 44100.5 -> "44100.5".
std::string rateText(double rate);

// "[" + name + "] " + rest, sent as a log event.
void log(Events& events, const std::string& name, const std::string& rest);

} // namespace tarvine::SpeechText
