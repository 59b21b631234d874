#include "Image.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace tarvine::glass {

void Image::Unref::operator()(GdkPixbuf* pixbuf) const noexcept {
    g_object_unref(pixbuf);
}

std::optional<Image> Image::load(const std::string& path) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
    if (error) g_error_free(error);
    if (!pixbuf) return std::nullopt;
    return Image(pixbuf);
}

int Image::width() const {
    return gdk_pixbuf_get_width(pixbuf_.get());
}

int Image::height() const {
    return gdk_pixbuf_get_height(pixbuf_.get());
}

std::vector<std::uint32_t> Image::argb(int width, int height) const {
    std::unique_ptr<GdkPixbuf, Unref> scaled(
        gdk_pixbuf_scale_simple(pixbuf_.get(), width, height, GDK_INTERP_BILINEAR));
    if (!scaled) return {};
    const guchar* pixels = gdk_pixbuf_read_pixels(scaled.get());
    int stride = gdk_pixbuf_get_rowstride(scaled.get());
    int channels = gdk_pixbuf_get_n_channels(scaled.get());
    bool alpha = gdk_pixbuf_get_has_alpha(scaled.get());
    std::vector<std::uint32_t> result;
    result.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const guchar* p = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < width; ++x, p += channels) {
            std::uint32_t a = alpha ? p[3] : 0xff;
            result.push_back(a << 24 | std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]);
        }
    }
    return result;
}

} // namespace tarvine::glass
