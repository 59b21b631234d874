#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvine {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64(std::span<const std::uint8_t> bytes);
std::string base64(std::string_view bytes);

} // namespace tarvine
