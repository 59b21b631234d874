#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvine::TextEncoding {

// Whether the bytes are well-formed UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF).
bool isUtf8(std::string_view bytes);

// Each byte one character, as ISO Latin-1 reads it.
std::string latin1ToUtf8(std::string_view bytes);

// The code point as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

// Bytes in a named character set (an iconv name such as "CP1252" or "SHIFT_JIS") as UTF-8;
// undecodable bytes become U+FFFD. Nothing when the character set is unknown.
std::optional<std::string> toUtf8(std::string_view bytes, const std::string& charset);

// toUtf8 for many pieces of text in one character set: the converter is opened once.
class Converter {
public:
    // Nothing when the character set is unknown.
    static std::optional<Converter> open(const std::string& charset);
    std::string toUtf8(std::string_view bytes);

private:
    struct Closer {
        void operator()(void* cd) const;
    };
    explicit Converter(void* cd) : cd_(cd) {}
    std::unique_ptr<void, Closer> cd_;
};

// A Windows code page number (1252, 932, 65001, ...) as a character set name for toUtf8.
std::string codePageCharset(int codePage);

} // namespace tarvine::TextEncoding
