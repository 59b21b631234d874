#include "base/Image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pixman.h>

namespace tarvine {

namespace {

struct PixmanUnref {
    void operator()(pixman_image_t* image) const noexcept { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanUnref>;

PixmanImage wrap(const std::uint32_t* pixels, int width, int height, int stride) {
    // pixman only reads a source, whatever its signature says.
    return PixmanImage(pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height,
                                                const_cast<std::uint32_t*>(pixels),
                                                stride * int(sizeof(std::uint32_t))));
}

// Up to half the size, bilinear sampling loses nothing visible and has pixman's fast paths;
// beyond that it would skip pixels, so each output pixel averages its whole source area.
void chooseFilter(pixman_image_t* source, double scaleX, double scaleY) {
    if (scaleX <= 2.0 && scaleY <= 2.0) {
        pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        return;
    }
    int count = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &count, pixman_double_to_fixed(std::max(scaleX, 1.0)),
        pixman_double_to_fixed(std::max(scaleY, 1.0)), PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX,
        PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
    pixman_image_set_filter(source, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    std::free(params);
}

} // namespace

Image copied(ImageView source) {
    Image out(source.width, source.height);
    for (int y = 0; y < source.height; ++y)
        std::memcpy(&out.pixels[std::size_t(y) * out.stride],
                    source.pixels + std::size_t(y) * source.stride,
                    std::size_t(source.width) * sizeof(std::uint32_t));
    return out;
}

Image scaled(ImageView source, int width, int height) {
    if (width <= 0 || height <= 0) return Image(std::max(width, 0), std::max(height, 0));
    if (width == source.width && height == source.height) return copied(source);
    Image out(width, height);
    if (source.width <= 0 || source.height <= 0) return out;
    auto from = wrap(source.pixels, source.width, source.height, source.stride);
    auto to = wrap(out.pixels.data(), width, height, width);
    const double scaleX = double(source.width) / width;
    const double scaleY = double(source.height) / height;
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(scaleX),
                                pixman_double_to_fixed(scaleY));
    pixman_image_set_transform(from.get(), &transform);
    pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
    chooseFilter(from.get(), scaleX, scaleY);
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0, width,
                             height);
    return out;
}

std::uint8_t grey(std::uint32_t pixel) {
    const std::uint32_t r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
    // Rec. 601 weights in 1/1000ths, rounded.
    return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

} // namespace tarvine
