#include "Png.h"

#include <csetjmp>
#include <png.h>

namespace tarvine::Png {

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void noFlush(png_structp) {}

// libpng reports errors by long-jumping back to the setjmp in encodeRgba.
void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

// Kept apart so that nothing of the caller's lives across the long jump.
bool writeImage(png_structp png, png_infop info, std::string* out, png_bytepp rows, int width,
                int height) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_write_fn(png, out, appendBytes, noFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_rows(png, rows, static_cast<png_uint_32>(height));
    png_write_end(png, nullptr);
    return true;
}

} // namespace

std::optional<std::string> encodeRgba(const std::vector<std::uint8_t>& pixels, int width,
                                      int height) {
    if (width <= 0 || height <= 0 ||
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return std::nullopt;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    std::string out;
    std::vector<png_const_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[static_cast<std::size_t>(y)] = pixels.data() + static_cast<std::size_t>(y) * width * 4;
    bool ok =
        info && writeImage(png, info, &out, const_cast<png_bytepp>(rows.data()), width, height);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok) return std::nullopt;
    return out;
}

} // namespace tarvine::Png
