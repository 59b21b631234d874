#include "SharedImage.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace tarvine::adapters::x11 {

namespace {

PlatformError unsupportedFormat() {
    return PlatformError("X11", "The display's pixel format is not supported.");
}

// Only 32 bits per pixel (depth 24 or 32) is read; that is every true-colour screen today.
bool thirtyTwoBitsPerPixel(Connection& x, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(x.xcb());
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth) return it.data->bits_per_pixel == 32;
    return false;
}

bool sharedMemoryPresent(Connection& x, Deadline deadline) {
    const std::string name = "MIT-SHM";
    auto extension = await<xcb_query_extension_reply_t>(
        x.xcb(),
        xcb_query_extension(x.xcb(), static_cast<std::uint16_t>(name.size()), name.c_str()),
        deadline);
    if (!extension || !extension->present) return false;
    auto version =
        await<xcb_shm_query_version_reply_t>(x.xcb(), xcb_shm_query_version(x.xcb()), deadline);
    return version != nullptr;
}

} // namespace

SharedImage::~SharedImage() {
    forget();
}

void SharedImage::forget() {
    if (data_) ::shmdt(data_);
    data_ = nullptr;
    size_ = 0;
    id_ = -1;
    segment_ = 0;
    support_ = Support::unknown;
}

bool SharedImage::attach(Connection& x, std::size_t bytes, Deadline deadline) {
    if (support_ == Support::unknown)
        support_ = sharedMemoryPresent(x, deadline) ? Support::present : Support::absent;
    if (support_ == Support::absent) return false;
    if (data_ && size_ >= bytes) return true;
    if (data_) {
        xcb_shm_detach(x.xcb(), segment_);
        ::shmdt(data_);
        data_ = nullptr;
    }
    id_ = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id_ < 0) return false;
    void* mapped = ::shmat(id_, nullptr, 0);
    if (mapped == reinterpret_cast<void*>(-1)) {
        ::shmctl(id_, IPC_RMID, nullptr);
        return false;
    }
    segment_ = xcb_generate_id(x.xcb());
    auto cookie = xcb_shm_attach_checked(x.xcb(), segment_, static_cast<std::uint32_t>(id_), 0);
    try {
        sync(x.xcb(), deadline);
    } catch (...) {
        ::shmctl(id_, IPC_RMID, nullptr);
        ::shmdt(mapped);
        throw;
    }
    // Marked for removal once both sides have it: nothing is left behind if we crash.
    ::shmctl(id_, IPC_RMID, nullptr);
    if (!succeeded(x.xcb(), cookie)) {
        // A server on another machine cannot share our memory.
        ::shmdt(mapped);
        support_ = Support::absent;
        return false;
    }
    data_ = mapped;
    size_ = bytes;
    return true;
}

Image SharedImage::read(Connection& x, xcb_drawable_t drawable, const PixelRect& area, int width,
                        int height, Deadline deadline) {
    if (area.empty() || width <= 0 || height <= 0)
        throw PlatformError("X11", "The requested image is empty.");
    const std::size_t bytes = std::size_t(area.width) * std::size_t(area.height) * 4;
    if (attach(x, bytes, deadline)) return readShared(x, drawable, area, width, height, deadline);
    return readPlain(x, drawable, area, width, height, deadline);
}

Image SharedImage::readShared(Connection& x, xcb_drawable_t drawable, const PixelRect& area,
                              int width, int height, Deadline deadline) {
    auto reply = await<xcb_shm_get_image_reply_t>(
        x.xcb(),
        xcb_shm_get_image(x.xcb(), drawable, static_cast<std::int16_t>(area.x),
                          static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                          static_cast<std::uint16_t>(area.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                          segment_, 0),
        deadline);
    if (!reply) throw PlatformError("X11", "The display refused to give its image.");
    if (!thirtyTwoBitsPerPixel(x, reply->depth)) throw unsupportedFormat();
    return scaled(
        ImageView(static_cast<const std::uint32_t*>(data_), area.width, area.height, area.width),
        width, height);
}

Image SharedImage::readPlain(Connection& x, xcb_drawable_t drawable, const PixelRect& area,
                             int width, int height, Deadline deadline) {
    auto reply = await<xcb_get_image_reply_t>(
        x.xcb(),
        xcb_get_image(x.xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                      static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                      static_cast<std::uint16_t>(area.width),
                      static_cast<std::uint16_t>(area.height), ~0u),
        deadline);
    if (!reply) throw PlatformError("X11", "The display refused to give its image.");
    if (!thirtyTwoBitsPerPixel(x, reply->depth)) throw unsupportedFormat();
    const auto length = static_cast<std::size_t>(xcb_get_image_data_length(reply.get()));
    if (length < std::size_t(area.width) * std::size_t(area.height) * 4) throw unsupportedFormat();
    return scaled(ImageView(reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply.get())),
                            area.width, area.height, area.width),
                  width, height);
}

} // namespace tarvine::adapters::x11
