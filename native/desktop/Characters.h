#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text measured the way a user counts it: in user-perceived characters (extended grapheme
// clusters), over UTF-8. A thin layer over libunistring.
namespace tarvine::Characters {

// The text cut into its characters, in order.
std::vector<std::string_view> split(std::string_view utf8);
std::size_t count(std::string_view utf8);

// True when the first Unicode scalar is a letter, a mark or a number (the Unicode
// alphanumerics); false for empty text.
bool startsAlphanumeric(std::string_view utf8);

// The longest start of the text that fits in `units` UTF-16 code units, cut between scalars.
std::string prefixInUtf16Units(std::string_view utf8, std::size_t units);

// The canonical composition (NFC), so that canonically equal texts compare equal bytewise.
std::string composed(std::string_view utf8);

} // namespace tarvine::Characters
