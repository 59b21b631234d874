#include "desktop/Characters.h"

#include <cstdlib>
#include <memory>
#include <unictype.h>
#include <unigbrk.h>
#include <uninorm.h>
#include <unistr.h>

namespace tarvine::Characters {

namespace {

const std::uint8_t* bytes(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

struct FreeDeleter {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
};

} // namespace

std::vector<std::string_view> split(std::string_view utf8) {
    std::vector<std::string_view> characters;
    const std::uint8_t* begin = bytes(utf8);
    const std::uint8_t* end = begin + utf8.size();
    for (const std::uint8_t* at = begin; at < end;) {
        const std::uint8_t* next = u8_grapheme_next(at, end);
        if (!next || next <= at) next = end;
        characters.emplace_back(
            utf8.substr(static_cast<std::size_t>(at - begin), static_cast<std::size_t>(next - at)));
        at = next;
    }
    return characters;
}

std::size_t count(std::string_view utf8) {
    return split(utf8).size();
}

bool startsAlphanumeric(std::string_view utf8) {
    if (utf8.empty()) return false;
    ucs4_t scalar = 0;
    u8_mbtouc(&scalar, bytes(utf8), utf8.size());
    static const uc_general_category_t alphanumerics =
        uc_general_category_or(uc_general_category_or(UC_CATEGORY_L, UC_CATEGORY_M), UC_CATEGORY_N);
    return uc_is_general_category(scalar, alphanumerics);
}

std::string prefixInUtf16Units(std::string_view utf8, std::size_t units) {
    std::size_t taken = 0, used = 0;
    while (taken < utf8.size()) {
        ucs4_t scalar = 0;
        int length = u8_mbtouc(&scalar, bytes(utf8) + taken, utf8.size() - taken);
        std::size_t cost = scalar > 0xFFFF ? 2 : 1;
        if (length <= 0 || used + cost > units) break;
        used += cost;
        taken += static_cast<std::size_t>(length);
    }
    return std::string(utf8.substr(0, taken));
}

std::string composed(std::string_view utf8) {
    std::size_t length = 0;
    std::unique_ptr<std::uint8_t, FreeDeleter> normal(
        u8_normalize(UNINORM_NFC, bytes(utf8), utf8.size(), nullptr, &length));
    if (!normal) return std::string(utf8);
    return std::string(reinterpret_cast<const char*>(normal.get()), length);
}

} // namespace tarvine::Characters
