#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvine {

// An image as straight (not premultiplied) RGBA pixels, row by row from the top.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// PNG with an alpha channel, 8 bits per sample; none when the image is not valid or libpng
// fails.
std::optional<std::string> encodePng(const RgbaImage& image);

// The PNG file at `path` as RGBA, or none when it cannot be read.
std::optional<RgbaImage> readPng(const std::string& path);

// `image` resampled to width x height (each target pixel averages the source pixels it
// covers, weighted by alpha, so that edges of transparent icons keep their colour).
RgbaImage resized(const RgbaImage& image, int width, int height);

} // namespace tarvine
