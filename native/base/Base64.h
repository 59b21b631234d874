#pragma once

#include <string>
#include <string_view>

namespace tarvine {

// Standard Base64 (RFC 4648 alphabet) with padding and no line breaks.
std::string base64(std::string_view bytes);

} // namespace tarvine
