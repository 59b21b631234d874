#pragma once

#include <memory>
#include <optional>
#include <string>

typedef struct _cairo cairo_t;

namespace tarvine {

// An SVG document loaded through librsvg.
class SvgImage {
public:
    // Nothing when the file is missing, not SVG, or has no size of its own.
    static std::optional<SvgImage> load(const std::string& path);

    // Its size in CSS pixels (points): the width and height it declares, else its view box.
    double width() const { return width_; }
    double height() const { return height_; }

    // Draws the whole image stretched over (0, 0, width, height) of the context.
    bool render(cairo_t* context, double width, double height) const;

private:
    struct Unref {
        void operator()(void* handle) const;
    };
    explicit SvgImage(void* handle) : handle_(handle) {}
    std::unique_ptr<void, Unref> handle_;
    double width_ = 0, height_ = 0;
};

} // namespace tarvine
