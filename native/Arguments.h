#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvine::Arguments {

// An optional single sign and one or more decimal digits, nothing else, within range.
std::optional<std::int64_t> parseInteger(std::string_view text);
std::optional<std::int32_t> parseInt32(std::string_view text);

// A number as the C library's strtod reads it in the C locale (decimal, hexadecimal,
// infinity, NaN), covering the whole argument; leading white space is refused.
std::optional<double> parseDouble(std::string_view text);

} // namespace tarvine::Arguments
