#pragma once

#include <cstdint>
#include <vector>

namespace tarvine {

// A picture in memory: 32-bit pixels 0xXXRRGGBB in the machine's byte order (alpha, if any,
// ignored), rows top first, `stride` pixels from one row to the next.
struct Image {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint32_t> pixels;

    Image() = default;
    Image(int w, int h) : width(w), height(h), stride(w), pixels(std::size_t(w) * std::size_t(h)) {}

    std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * stride + x]; }
};

// Pixels owned elsewhere (a shared-memory segment, say), read in place.
struct ImageView {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;

    ImageView() = default;
    ImageView(const std::uint32_t* p, int w, int h, int s)
        : pixels(p), width(w), height(h), stride(s) {}
    ImageView(const Image& image) // NOLINT: an image can always be read in place
        : pixels(image.pixels.data()), width(image.width), height(image.height),
          stride(image.stride) {}
};

// `source` stretched to exactly width x height (its aspect ratio is not kept), filtered so
// that a reduction averages the pixels it drops rather than skipping them.
Image scaled(ImageView source, int width, int height);

// A copy of the pixels, for when no scaling is asked for.
Image copied(ImageView source);

// The grey value (0 black, 255 white) of a pixel, by luma.
std::uint8_t grey(std::uint32_t pixel);

} // namespace tarvine
