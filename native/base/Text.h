#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvine::Text {

// Text measures in UTF-16 code units, the unit the documented limits count in. Bytes that
// are not valid UTF-8 count one unit each (they would read as a replacement character).
std::size_t utf16Length(std::string_view utf8);

// True when the text is empty after trimming white space and line breaks at both ends.
bool isBlank(std::string_view utf8);

// The text cut into user-perceived characters: a base with its combining marks, variation
// selectors and emoji modifiers, zero-width-joiner sequences, flag pairs, Hangul syllables,
// and a carriage return with its line feed.
std::vector<std::string> graphemes(std::string_view utf8);

// Each code point of the text; invalid bytes become U+FFFD.
std::vector<char32_t> codePoints(std::string_view utf8);

} // namespace tarvine::Text
