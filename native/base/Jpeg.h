#pragma once

#include "base/Image.h"

#include <cstdint>
#include <vector>

namespace tarvine {

// `image` as JPEG bytes. The compression factor runs from 0 (smallest file) to 1 (best
// picture), as the documented encoders take it; 0.7 is quality 70. Empty when the encoder
// fails.
std::vector<std::uint8_t> encodeJpeg(ImageView image, double compressionFactor);

} // namespace tarvine
