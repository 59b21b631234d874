#include "Png.h"

#include <algorithm>
#include <cmath>
#include <png.h>

namespace tarvine {

namespace {

// libpng's simplified API, released however the call ends.
struct PngImage {
    png_image image{};
    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

bool valid(const RgbaImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.pixels.size() == std::size_t(image.width) * std::size_t(image.height) * 4;
}

} // namespace

std::optional<std::string> encodePng(const RgbaImage& image) {
    if (!valid(image)) return std::nullopt;
    PngImage png;
    png.image.width = static_cast<png_uint_32>(image.width);
    png.image.height = static_cast<png_uint_32>(image.height);
    png.image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png.image, nullptr, &size, 0, image.pixels.data(), 0, nullptr))
        return std::nullopt;
    std::string bytes(size, '\0');
    if (!png_image_write_to_memory(&png.image, bytes.data(), &size, 0, image.pixels.data(), 0,
                                   nullptr))
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

std::optional<RgbaImage> readPng(const std::string& path) {
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str())) return std::nullopt;
    png.image.format = PNG_FORMAT_RGBA;
    RgbaImage result;
    result.width = static_cast<int>(png.image.width);
    result.height = static_cast<int>(png.image.height);
    result.pixels.resize(PNG_IMAGE_SIZE(png.image));
    if (!png_image_finish_read(&png.image, nullptr, result.pixels.data(), 0, nullptr))
        return std::nullopt;
    return result;
}

RgbaImage resized(const RgbaImage& image, int width, int height) {
    RgbaImage out;
    out.width = width;
    out.height = height;
    out.pixels.assign(std::size_t(width) * std::size_t(height) * 4, 0);
    if (!valid(image) || width <= 0 || height <= 0) return out;
    const double sx = double(image.width) / width, sy = double(image.height) / height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // The source area this pixel covers, at least one source pixel.
            int x0 = int(std::floor(x * sx)), x1 = std::max(x0 + 1, int(std::ceil((x + 1) * sx)));
            int y0 = int(std::floor(y * sy)), y1 = std::max(y0 + 1, int(std::ceil((y + 1) * sy)));
            x1 = std::min(x1, image.width);
            y1 = std::min(y1, image.height);
            double r = 0, g = 0, b = 0, a = 0;
            int count = 0;
            for (int v = y0; v < y1; ++v)
                for (int u = x0; u < x1; ++u) {
                    const auto* p = &image.pixels[(std::size_t(v) * image.width + u) * 4];
                    r += p[0] * double(p[3]);
                    g += p[1] * double(p[3]);
                    b += p[2] * double(p[3]);
                    a += p[3];
                    ++count;
                }
            auto* q = &out.pixels[(std::size_t(y) * width + x) * 4];
            if (a > 0) {
                q[0] = std::uint8_t(std::lround(r / a));
                q[1] = std::uint8_t(std::lround(g / a));
                q[2] = std::uint8_t(std::lround(b / a));
            }
            q[3] = std::uint8_t(std::lround(a / count));
        }
    }
    return out;
}

} // namespace tarvine
