#include "SymbolIcon.h"

#include "Png.h"
#include "Svg.h"
#include "base/HelperError.h"
#include "platform/Platform.h"
#include "platform/SymbolCatalog.h"

#include <cairo.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarvine::SymbolIcon {

namespace {

// The largest side cairo can draw into.
constexpr double largestSide = 32767;

struct SurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDestroy {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};

std::optional<SvgImage> loadImage(const std::string& name) {
    if (name.ends_with(".svg")) return SvgImage::load(name);
    auto file = platform::integration().symbolCatalog().symbolFile(name);
    if (!file) return std::nullopt;
    return SvgImage::load(*file);
}

// Cairo's premultiplied native-endian ARGB as straight RGBA rows without padding.
std::vector<std::uint8_t> straightRgba(cairo_surface_t* surface, int width, int height) {
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        auto* row =
            reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            std::uint32_t argb = row[x];
            std::uint32_t a = argb >> 24;
            auto straight = [a](std::uint32_t c) {
                return static_cast<std::uint8_t>(a == 0 ? 0 : (c * 255 + a / 2) / a);
            };
            std::uint8_t* out = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            out[0] = straight((argb >> 16) & 0xFF);
            out[1] = straight((argb >> 8) & 0xFF);
            out[2] = straight(argb & 0xFF);
            out[3] = static_cast<std::uint8_t>(a);
        }
    }
    return pixels;
}

void writeFile(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw PlatformError("file", "could not write " + path + ": " + std::strerror(errno));
    std::string_view rest = bytes;
    while (!rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int error = errno;
            ::close(fd);
            throw PlatformError("file", "could not write " + path + ": " + std::strerror(error));
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0)
        throw PlatformError("file", "could not write " + path + ": " + std::strerror(errno));
}

} // namespace

SymbolWeight symbolWeight(const std::string& name) {
    if (name == "light") return SymbolWeight::light;
    if (name == "medium") return SymbolWeight::medium;
    if (name == "semibold") return SymbolWeight::semibold;
    if (name == "bold") return SymbolWeight::bold;
    return SymbolWeight::regular;
}

void exportIcon(const std::string& name, double pointSize, double scale, const std::string& weight,
                const std::string& to) {
    // Icon themes draw each symbol in one stroke weight: the weight is accepted and the
    // theme's drawing is used as it is.
    (void)symbolWeight(weight);
    auto image = loadImage(name);
    if (!image || !(image->width() > 0) || !(image->height() > 0))
        throw HelperError("No SF Symbol or SVG named " + name);

    // Symbols and SVG files alike are drawn pointSize high, keeping their aspect ratio.
    double width = std::ceil(pointSize * (image->width() / image->height()));
    double height = std::ceil(pointSize);
    double pixelWidth = std::trunc(scale * width);
    double pixelHeight = std::trunc(scale * height);
    if (!(pixelWidth >= 1 && pixelWidth <= largestSide && pixelHeight >= 1 &&
          pixelHeight <= largestSide))
        throw HelperError("Could not allocate bitmap");
    int pw = static_cast<int>(pixelWidth), ph = static_cast<int>(pixelHeight);
    std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw HelperError("Could not allocate bitmap");

    {
        std::unique_ptr<cairo_t, ContextDestroy> context(cairo_create(surface.get()));
        // The bitmap is width x height points at `scale` pixels each.
        cairo_scale(context.get(), pw / width, ph / height);
        image->render(context.get(), width, height);
        // Source-atop black: every drawn pixel turns black and keeps the shape's coverage.
        cairo_set_operator(context.get(), CAIRO_OPERATOR_ATOP);
        cairo_set_source_rgb(context.get(), 0, 0, 0);
        cairo_paint(context.get());
    }

    auto png = Png::encodeRgba(straightRgba(surface.get(), pw, ph), pw, ph);
    if (!png) throw HelperError("PNG encode failed");
    writeFile(to, *png);
}

} // namespace tarvine::SymbolIcon
