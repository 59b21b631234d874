#include "SpeechText.h"

#include <charconv>

namespace tarvine::SpeechText {

namespace {

constexpr char32_t invalid = 0xFFFFFFFF;

// Decodes the code point at `at`, advancing it; invalid or truncated sequences give `invalid`
// and consume one byte.
char32_t decode(std::string_view text, std::size_t& at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        ++at;
        return invalid;
    }
    if (at + length > text.size()) {
        ++at;
        return invalid;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return invalid;
        }
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return value;
}

bool isSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Code points that never start a character of their own.
bool extendsPrevious(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x0483 && c <= 0x0489) ||
           (c >= 0x0591 && c <= 0x05BD) || (c >= 0x0610 && c <= 0x061A) ||
           (c >= 0x064B && c <= 0x065F) || (c >= 0x0900 && c <= 0x0903) ||
           (c >= 0x093A && c <= 0x094F) ||
           (c >= 0x0E31 && c <= 0x0E3A && c != 0x0E32 && c != 0x0E33) ||
           (c >= 0x0E47 && c <= 0x0E4E) || (c >= 0x1AB0 && c <= 0x1AFF) ||
           (c >= 0x1DC0 && c <= 0x1DFF) || c == 0x200C || c == 0x200D ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0x3099 && c <= 0x309A) ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) ||
           (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) ||
           (c >= 0xE0100 && c <= 0xE01EF);
}

bool isRegionalIndicator(char32_t c) {
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

} // namespace

std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        std::size_t next = begin;
        if (!isSpace(decode(text, next))) break;
        begin = next;
    }
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 &&
               end - start < 4)
            --start;
        std::size_t probe = start;
        const char32_t c = decode(text, probe);
        if (probe != end || !isSpace(c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::int64_t characterCount(std::string_view text) {
    std::int64_t count = 0;
    char32_t previous = invalid;
    bool pairOpen = false; // a regional indicator waits for its partner
    std::size_t at = 0;
    while (at < text.size()) {
        const char32_t c = decode(text, at);
        bool joins = false;
        // A mark, the next part of a ZWJ sequence, CR LF, or the second of a flag's pair.
        if (count > 0 && c != invalid)
            joins = extendsPrevious(c) || previous == 0x200D || (previous == '\r' && c == '\n') ||
                    (pairOpen && isRegionalIndicator(c));
        pairOpen = isRegionalIndicator(c) && !joins;
        if (!joins) ++count;
        previous = c;
    }
    return count;
}

std::int64_t wordCount(std::string_view text) {
    std::int64_t words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

std::string rateText(double rate) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, rate);
    if (error != std::errc()) return "nan";
    std::string text(buffer, end);
    if (text.find_first_not_of("-0123456789") == std::string::npos) text += ".0";
    return text;
}

void log(Events& events, const std::string& name, const std::string& rest) {
    events.log("[" + name + "] " + rest);
}

} // namespace tarvine::SpeechText
