#pragma once

#include <optional>
#include <string>

namespace tarvine::Extract {

// The plain text of the document at `path`, chosen by its extension (case-insensitive): PDF,
// DOCX, DOC, RTF/RTFD and HTML have readers; anything else is UTF-8, else Latin-1. Nothing
// when the file cannot be read; never throws.
std::optional<std::string> text(const std::string& path);

} // namespace tarvine::Extract
