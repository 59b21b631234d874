#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GdkPixbuf GdkPixbuf;

namespace tarvine::glass {

// A picture read from an image file (any format gdk-pixbuf reads).
class Image {
public:
    static std::optional<Image> load(const std::string& path);

    int width() const;
    int height() const;
    // The picture scaled to width × height, as 0xAARRGGBB pixels row by row.
    std::vector<std::uint32_t> argb(int width, int height) const;

private:
    struct Unref {
        void operator()(GdkPixbuf* pixbuf) const noexcept;
    };
    explicit Image(GdkPixbuf* pixbuf) : pixbuf_(pixbuf) {}
    std::unique_ptr<GdkPixbuf, Unref> pixbuf_;
};

} // namespace tarvine::glass
