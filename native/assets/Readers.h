#pragma once

// One reader per document format. Each takes the file's bytes, which may be hostile, and
// returns the text a person would read, in reading order, or nothing when the bytes are not
// a readable document of its format. None of them throws.

#include <optional>
#include <string>
#include <string_view>

namespace tarvine::Readers {

std::optional<std::string> pdfText(std::string_view bytes);
std::optional<std::string> docxText(std::string_view bytes);
std::optional<std::string> docText(std::string_view bytes);
std::optional<std::string> rtfText(std::string_view bytes);
std::optional<std::string> htmlText(std::string_view bytes);
// UTF-8 as it stands, else each byte as a Latin-1 character: never fails.
std::string plainText(std::string_view bytes);

// Whether the bytes begin as an RTF document ("{\rtf", after white space).
bool beginsAsRtf(std::string_view bytes);

// Reads platforms detect for themselves (".rtf", ".rtfd", ".html", ".htm"): RTF when the
// bytes begin as RTF, HTML when they look like markup, else plain text.
std::optional<std::string> detectedText(std::string_view bytes);

} // namespace tarvine::Readers
