#include "base/Jpeg.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <turbojpeg.h>

namespace tarvine {

namespace {

struct TurboDestroy {
    void operator()(void* handle) const noexcept { tjDestroy(handle); }
};
struct TurboFree {
    void operator()(unsigned char* buffer) const noexcept { tjFree(buffer); }
};

// 0xXXRRGGBB words lie in memory as B, G, R, X on a little-endian machine.
static_assert(std::endian::native == std::endian::little, "pixel layout assumes little-endian");

} // namespace

std::vector<std::uint8_t> encodeJpeg(ImageView image, double compressionFactor) {
    if (image.width <= 0 || image.height <= 0 || !image.pixels) return {};
    std::unique_ptr<void, TurboDestroy> encoder(tjInitCompress());
    if (!encoder) return {};
    const int quality = std::clamp(int(std::lround(compressionFactor * 100)), 1, 100);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    int failed = tjCompress2(encoder.get(), reinterpret_cast<const unsigned char*>(image.pixels),
                             image.width, image.stride * 4, image.height, TJPF_BGRX, &out, &size,
                             TJSAMP_420, quality, 0);
    std::unique_ptr<unsigned char, TurboFree> owned(out);
    if (failed || !out || size == 0) return {};
    return std::vector<std::uint8_t>(out, out + size);
}

} // namespace tarvine
