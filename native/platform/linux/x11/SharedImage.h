#pragma once

#include "Await.h"
#include "Desktop.h"
#include "base/Image.h"

#include <cstddef>
#include <cstdint>
#include <xcb/shm.h>

namespace tarvine::adapters::x11 {

// Reads pixels from the server: through a shared-memory segment (MIT-SHM) when the server
// offers it, so that a full screen travels without being copied through the socket, else
// with a plain GetImage. The segment is kept and grown as needed; it belongs to one
// connection.
class SharedImage {
public:
    SharedImage() = default;
    ~SharedImage();
    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    // The pixels of `area` of a drawable of the screen's depth (or 32), scaled to width x
    // height. Throws PlatformError.
    Image read(Connection& x, xcb_drawable_t drawable, const PixelRect& area, int width, int height,
               Deadline deadline);

    // The connection went away: the segment is released locally.
    void forget();

private:
    bool attach(Connection& x, std::size_t bytes, Deadline deadline);
    Image readShared(Connection& x, xcb_drawable_t drawable, const PixelRect& area, int width,
                     int height, Deadline deadline);
    Image readPlain(Connection& x, xcb_drawable_t drawable, const PixelRect& area, int width,
                    int height, Deadline deadline);

    enum class Support { unknown, present, absent };
    Support support_ = Support::unknown;
    int id_ = -1;
    void* data_ = nullptr;
    std::size_t size_ = 0;
    xcb_shm_seg_t segment_ = 0;
};

} // namespace tarvine::adapters::x11
