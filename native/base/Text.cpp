#include "Text.h"

namespace tarvine::Text {

namespace {

constexpr char32_t invalid = 0xFFFD;

// Decodes one code point at `i` and advances past it; invalid bytes advance by one.
char32_t decode(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int length = b0 < 0x80 ? 1 : (b0 >> 5) == 6 ? 2 : (b0 >> 4) == 14 ? 3 : (b0 >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size()) {
        ++i;
        return invalid;
    }
    if (length == 1) return s[i++];
    char32_t cp = b0 & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return invalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return invalid;
    }
    i += length;
    return cp;
}

bool isSpaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Marks and modifiers that extend the character before them.
bool extends(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x0483 && c <= 0x0489) ||
           (c >= 0x0591 && c <= 0x05BD) || (c >= 0x0610 && c <= 0x061A) ||
           (c >= 0x064B && c <= 0x065F) || (c >= 0x0900 && c <= 0x0903) ||
           (c >= 0x093A && c <= 0x094F) ||
           (c >= 0x0E31 && c <= 0x0E3A && c != 0x0E32 && c != 0x0E33) ||
           (c >= 0x0E47 && c <= 0x0E4E) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0x302A && c <= 0x302F) ||
           (c >= 0x3099 && c <= 0x309A) || (c >= 0xFE00 && c <= 0xFE0F) ||
           (c >= 0xFE20 && c <= 0xFE2F) || (c >= 0x1F3FB && c <= 0x1F3FF) ||
           (c >= 0xE0020 && c <= 0xE007F) || (c >= 0xE0100 && c <= 0xE01EF);
}

bool regionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Hangul jamo: leading consonants, vowels, trailing consonants, and precomposed syllables
// (LV: no trailing consonant yet).
enum class Jamo { none, L, V, T, LV, LVT };
Jamo jamo(char32_t c) {
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0xA960 && c <= 0xA97C)) return Jamo::L;
    if ((c >= 0x1160 && c <= 0x11A7) || (c >= 0xD7B0 && c <= 0xD7C6)) return Jamo::V;
    if ((c >= 0x11A8 && c <= 0x11FF) || (c >= 0xD7CB && c <= 0xD7FB)) return Jamo::T;
    if (c >= 0xAC00 && c <= 0xD7A3) return (c - 0xAC00) % 28 == 0 ? Jamo::LV : Jamo::LVT;
    return Jamo::none;
}

bool hangulJoins(Jamo before, Jamo after) {
    switch (before) {
    case Jamo::L:
        return after == Jamo::L || after == Jamo::V || after == Jamo::LV || after == Jamo::LVT;
    case Jamo::LV:
    case Jamo::V:
        return after == Jamo::V || after == Jamo::T;
    case Jamo::LVT:
    case Jamo::T:
        return after == Jamo::T;
    default:
        return false;
    }
}

} // namespace

std::vector<char32_t> codePoints(std::string_view utf8) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < utf8.size();)
        out.push_back(decode(utf8, i));
    return out;
}

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < utf8.size();)
        units += decode(utf8, i) >= 0x10000 ? 2 : 1;
    return units;
}

bool isBlank(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();)
        if (!isSpaceOrNewline(decode(utf8, i))) return false;
    return true;
}

std::vector<std::string> graphemes(std::string_view utf8) {
    std::vector<std::string> out;
    char32_t previous = 0;
    bool joinNext = false; // the previous code point was a zero-width joiner
    int regionalRun = 0;   // regional indicators in the current character
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        const char32_t c = decode(utf8, i);
        bool continues = false;
        if (!out.empty()) {
            if (previous == U'\r' && c == U'\n')
                continues = true;
            else if (previous == U'\r' || previous == U'\n' || c == U'\r' || c == U'\n')
                continues = false;
            else if (extends(c) || joinNext)
                continues = true;
            else if (regionalIndicator(c) && regionalIndicator(previous) && regionalRun % 2 == 1)
                continues = true;
            else
                continues = hangulJoins(jamo(previous), jamo(c));
        }
        if (continues)
            out.back().append(utf8.substr(start, i - start));
        else {
            out.emplace_back(utf8.substr(start, i - start));
            regionalRun = 0;
        }
        if (regionalIndicator(c)) ++regionalRun;
        joinNext = c == 0x200D;
        previous = c;
    }
    return out;
}

} // namespace tarvine::Text
