#include "Extract.h"

#include "Readers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tarvine::Extract {

namespace {

namespace fs = std::filesystem;

// The part after the last dot of the last path component, lower-cased; empty without one.
std::string lowerExtension(const std::string& path) {
    auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos) return "";
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// An RTFD document is a folder whose text is TXT.rtf; a flattened one is read as it is.
std::optional<std::string> rtfdText(const std::string& path) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
        auto bytes = readFile(path);
        return bytes ? Readers::detectedText(*bytes) : std::nullopt;
    }
    auto bytes = readFile(fs::path(path) / "TXT.rtf");
    return bytes ? Readers::rtfText(*bytes) : std::nullopt;
}

} // namespace

std::optional<std::string> text(const std::string& path) {
    try {
        std::string extension = lowerExtension(path);
        if (extension == "rtfd") return rtfdText(path);
        auto bytes = readFile(path);
        if (!bytes) return std::nullopt;
        if (extension == "pdf") return Readers::pdfText(*bytes);
        if (extension == "docx") return Readers::docxText(*bytes);
        if (extension == "doc") return Readers::docText(*bytes);
        if (extension == "rtf") return Readers::detectedText(*bytes);
        if (extension == "html" || extension == "htm")
            return Readers::beginsAsRtf(*bytes) ? Readers::rtfText(*bytes)
                                                : Readers::htmlText(*bytes);
        return Readers::plainText(*bytes);
    } catch (const std::exception&) {
        // Out of memory on a huge file, or a library that threw: still "nothing".
        return std::nullopt;
    }
}

} // namespace tarvine::Extract
