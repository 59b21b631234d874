#include "ActiveWindow.h"

#include "Connection.h"
#include "platform/linux/xdg/DesktopEntries.h"

#include <cstdlib>
#include <filesystem>

namespace tarvine::adapters::x11 {

namespace {

// The icon drawn at 64 x 64 looks best from the smallest image at least that large.
constexpr std::uint32_t wantedSize = 64;

// _NET_WM_ICON holds images one after another: width, height, then width x height pixels of
// straight ARGB.
std::optional<RgbaImage> windowIcon(Connection& x, xcb_window_t window) {
    auto data = x.cardinals(window, "_NET_WM_ICON", XCB_ATOM_CARDINAL);
    if (!data) return std::nullopt;
    std::size_t best = 0, bestArea = 0;
    bool found = false;
    for (std::size_t at = 0; at + 2 <= data->size();) {
        const std::size_t w = (*data)[at], h = (*data)[at + 1];
        if (w == 0 || h == 0 || w * h > data->size() - at - 2) break;
        const std::size_t area = w * h;
        const bool bigEnough = w >= wantedSize && h >= wantedSize;
        const bool bestBigEnough = found && bestArea >= wantedSize * wantedSize;
        if (!found || (bigEnough && (!bestBigEnough || area < bestArea)) ||
            (!bigEnough && !bestBigEnough && area > bestArea)) {
            best = at;
            bestArea = area;
            found = true;
        }
        at += 2 + area;
    }
    if (!found) return std::nullopt;
    RgbaImage image;
    image.width = int((*data)[best]);
    image.height = int((*data)[best + 1]);
    image.pixels.reserve(bestArea * 4);
    for (std::size_t i = 0; i < bestArea; ++i) {
        const std::uint32_t argb = (*data)[best + 2 + i];
        image.pixels.push_back(std::uint8_t(argb >> 16));
        image.pixels.push_back(std::uint8_t(argb >> 8));
        image.pixels.push_back(std::uint8_t(argb));
        image.pixels.push_back(std::uint8_t(argb >> 24));
    }
    return image;
}

std::vector<std::filesystem::path> iconDirectories() {
    std::vector<std::filesystem::path> dirs;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome)
        dirs.emplace_back(std::filesystem::path(dataHome) / "icons");
    else if (home && *home)
        dirs.emplace_back(std::filesystem::path(home) / ".local/share/icons");
    dirs.emplace_back("/usr/local/share/icons");
    dirs.emplace_back("/usr/share/icons");
    return dirs;
}

// The theme icon of a desktop entry, as a PNG of the hicolor theme or the pixmaps folder.
std::optional<RgbaImage> themeIcon(const std::string& icon) {
    if (icon.empty()) return std::nullopt;
    if (icon.front() == '/') return readPng(icon);
    static const char* sizes[] = {"64x64",   "72x72", "96x96", "128x128", "256x256",
                                  "512x512", "48x48", "32x32", "24x24",   "16x16"};
    std::error_code error;
    for (const auto& dir : iconDirectories())
        for (const char* size : sizes) {
            auto path = dir / "hicolor" / size / "apps" / (icon + ".png");
            if (std::filesystem::exists(path, error))
                if (auto image = readPng(path.string())) return image;
        }
    auto pixmap = std::filesystem::path("/usr/share/pixmaps") / (icon + ".png");
    if (std::filesystem::exists(pixmap, error)) return readPng(pixmap.string());
    return std::nullopt;
}

} // namespace

std::optional<platform::RunningApplication> ActiveWindow::frontmostApplication(bool withIcon) {
    auto x = Connection::open();
    if (!x) return std::nullopt;
    auto active = x->cardinals(x->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    if (!active || active->empty() || (*active)[0] == XCB_WINDOW_NONE) return std::nullopt;
    const xcb_window_t window = (*active)[0];

    platform::RunningApplication app;
    if (auto pid = x->cardinals(window, "_NET_WM_PID", XCB_ATOM_CARDINAL); pid && !pid->empty())
        app.pid = std::int32_t((*pid)[0]);
    std::optional<xdg::Application> entry;
    if (auto wmClass = x->wmClass(window)) {
        entry = xdg::applicationForWindowClass(wmClass->first, wmClass->second);
        const std::string& klass = wmClass->second.empty() ? wmClass->first : wmClass->second;
        app.name = entry ? entry->name : klass;
        app.identifier = entry ? entry->id : klass;
        if (app.identifier->empty()) app.identifier.reset();
    }
    if (withIcon) {
        app.icon = windowIcon(*x, window);
        if (!app.icon && entry) app.icon = themeIcon(entry->icon);
    }
    return app;
}

} // namespace tarvine::adapters::x11
