#include "Svg.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

namespace tarvine {

void SvgImage::Unref::operator()(void* handle) const {
    g_object_unref(handle);
}

std::optional<SvgImage> SvgImage::load(const std::string& path) {
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(path.c_str(), &error);
    if (error) g_error_free(error);
    if (!handle) return std::nullopt;
    SvgImage image(handle);
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &image.width_, &image.height_)) {
        gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
        RsvgLength width, height;
        RsvgRectangle viewBox;
        rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &width, &hasHeight, &height,
                                             &hasViewBox, &viewBox);
        if (!hasViewBox) return std::nullopt;
        image.width_ = viewBox.width;
        image.height_ = viewBox.height;
    }
    return image;
}

bool SvgImage::render(cairo_t* context, double width, double height) const {
    cairo_save(context);
    cairo_scale(context, width / width_, height / height_);
    RsvgRectangle viewport{0, 0, width_, height_};
    GError* error = nullptr;
    bool drawn = rsvg_handle_render_document(static_cast<RsvgHandle*>(handle_.get()), context,
                                             &viewport, &error);
    if (error) g_error_free(error);
    cairo_restore(context);
    return drawn;
}

} // namespace tarvine
