#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvine::Png {

// Straight (not premultiplied) RGBA pixels, 8 bits per sample, rows top to bottom without
// padding, encoded as a PNG file's bytes; nothing when libpng refuses.
std::optional<std::string> encodeRgba(const std::vector<std::uint8_t>& pixels, int width,
                                      int height);

} // namespace tarvine::Png
