#include "TextEncoding.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace tarvine::TextEncoding {

namespace {

// Length of the UTF-8 sequence at `at`, or 0 when it is malformed.
std::size_t sequenceLength(std::string_view bytes, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > bytes.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(at + 1);
    if (lead == 0xE0 && second < 0xA0) return 0; // overlong
    if (lead == 0xED && second > 0x9F) return 0; // surrogate
    if (lead == 0xF0 && second < 0x90) return 0; // overlong
    if (lead == 0xF4 && second > 0x8F) return 0; // past U+10FFFF
    return length;
}

} // namespace

bool isUtf8(std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t length = sequenceLength(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char b : bytes)
        appendUtf8(out, static_cast<unsigned char>(b));
    return out;
}

void Converter::Closer::operator()(void* cd) const {
    iconv_close(static_cast<iconv_t>(cd));
}

std::optional<Converter> Converter::open(const std::string& charset) {
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    return Converter(cd);
}

std::string Converter::toUtf8(std::string_view bytes) {
    auto cd = static_cast<iconv_t>(cd_.get());
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char buffer[4096];
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // An invalid or truncated sequence: one replacement character, then go on after it.
        appendUtf8(out, 0xFFFD);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::optional<std::string> toUtf8(std::string_view bytes, const std::string& charset) {
    auto converter = Converter::open(charset);
    if (!converter) return std::nullopt;
    return converter->toUtf8(bytes);
}

std::string codePageCharset(int codePage) {
    switch (codePage) {
    case 65001:
        return "UTF-8";
    case 10000:
        return "MACINTOSH";
    case 932:
        return "CP932";
    case 936:
        return "CP936";
    case 949:
        return "CP949";
    case 950:
        return "CP950";
    default:
        if (codePage > 0 && codePage < 100000) return "CP" + std::to_string(codePage);
        return "CP1252";
    }
}

} // namespace tarvine::TextEncoding
