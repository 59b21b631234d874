#include "desktop/ScreenCommands.h"

#include "base/Base64.h"
#include "base/HelperError.h"
#include "base/Jpeg.h"
#include "base/MainLoop.h"
#include "desktop/Capture.h"
#include "desktop/Wallpaper.h"

namespace tarvine {

namespace {

constexpr std::int64_t defaultMaxLongSide = 1440;
constexpr double captureCompression = 0.7;
constexpr double wallpaperLongSide = 2560.0;

Message failure() {
    return Message{{"ok", false}, {"error", errorMessage(std::current_exception())}};
}

// Encoding takes milliseconds; it runs beside the capture on the pool, not on the main loop.
std::string screenshotDataURL(std::int64_t maxLongSide) {
    const Image image = Capture::takeScreenshot(maxLongSide);
    const auto jpeg = encodeJpeg(image, captureCompression);
    if (jpeg.empty()) throw HelperError("Could not encode screenshot.");
    return "data:image/jpeg;base64," + base64(jpeg);
}

} // namespace

void ScreenCommands::registerIn(CommandTable& table) {
    table.add("capture", capture);
    table.add("fingerprint", fingerprint);
    table.add("wallpaper", wallpaper);
}

asio::awaitable<Reply> ScreenCommands::capture(const Request& request) {
    const std::int64_t max = request.integer("max", defaultMaxLongSide);
    try {
        auto work = MainLoop::offload([max] { return screenshotDataURL(max); });
        std::string url = co_await std::move(work);
        co_return Message{{"ok", true}, {"dataURL", std::move(url)}};
    } catch (...) {
        co_return failure();
    }
}

asio::awaitable<Reply> ScreenCommands::fingerprint(const Request&) {
    try {
        std::vector<std::uint8_t> pixels = co_await Capture::fingerprint();
        co_return Message{{"ok", true}, {"pixels", std::move(pixels)}};
    } catch (...) {
        co_return failure();
    }
}

asio::awaitable<Reply> ScreenCommands::wallpaper(const Request&) {
    try {
        std::string url = co_await Wallpaper::dataURL(wallpaperLongSide);
        co_return Message{{"ok", true}, {"dataURL", std::move(url)}};
    } catch (...) {
        co_return failure();
    }
}

} // namespace tarvine
