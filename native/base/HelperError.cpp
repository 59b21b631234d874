#include "HelperError.h"

#include <cstdio>

namespace tarvine {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[12];
                std::snprintf(buf, sizeof buf, "\\u{%x}", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string HelperError::description() const {
    return "HelperError(message: " + quoted(what()) + ")";
}

std::string describe(const std::exception& error) {
    if (const auto* helper = dynamic_cast<const HelperError*>(&error)) return helper->description();
    if (const auto* platform = dynamic_cast<const PlatformError*>(&error))
        return platform->description();
    return error.what();
}

std::string currentErrorMessage() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

} // namespace tarvine
