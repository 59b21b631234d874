#include "Readers.h"
#include "TextEncoding.h"

#include <algorithm>
#include <cctype>

namespace tarvine::Readers {

namespace {

// Markup near the start: a doctype or one of the elements every page has.
bool looksLikeHtml(std::string_view bytes) {
    std::string head(bytes.substr(0, 1024));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (std::string_view mark :
         {"<!doctype html", "<html", "<head", "<body", "<p>", "<div", "<br"})
        if (head.find(mark) != std::string::npos) return true;
    return false;
}

} // namespace

std::string plainText(std::string_view bytes) {
    if (TextEncoding::isUtf8(bytes)) return std::string(bytes);
    return TextEncoding::latin1ToUtf8(bytes);
}

std::optional<std::string> detectedText(std::string_view bytes) {
    if (beginsAsRtf(bytes)) return rtfText(bytes);
    if (looksLikeHtml(bytes)) return htmlText(bytes);
    return plainText(bytes);
}

} // namespace tarvine::Readers
