#pragma once

#include "Desktop.h"
#include "SharedImage.h"
#include "platform/Screenshots.h"

#include <map>

namespace tarvine::adapters::x11 {

// Screenshots of the X display. A display with no window to leave out is read as it stands;
// otherwise the windows that remain are composited over the root background (Composite and
// Render), so what lies beneath a left-out window shows.
class Screenshots : public platform::Screenshots {
public:
    platform::ShareableContent shareableContent() override;
    Image screenshot(const platform::ContentFilter& filter, int width, int height) override;

    // A mapped top-level window (a child of the root) with the process it belongs to.
    struct TopLevel {
        xcb_window_t window = 0;
        PixelRect outer;
        xcb_visualid_t visual = 0;
        std::uint8_t depth = 0;
        std::optional<std::int32_t> pid;
        std::optional<xcb_window_t> client;
    };

private:
    platform::ShareableContent content(Connection& x, Deadline deadline);
    Image capture(Connection& x, const platform::ContentFilter& filter, int width, int height,
                  Deadline deadline);
    Image compose(Connection& x, const PixelRect& area, const std::vector<TopLevel>& layers,
                  bool rootBackground, int width, int height, Deadline deadline);
    // Asks the server to keep every top-level window's contents; true when that was just
    // arranged, so that windows are still redrawing what they had hidden.
    bool keepWindowContents(Connection& x, Deadline deadline);
    void learnPictureFormats(Connection& x, Deadline deadline);

    Session session_;
    SharedImage pixels_;
    bool kept_ = false;
    std::map<xcb_visualid_t, std::uint32_t> visualFormats_;
    std::map<std::uint8_t, std::uint32_t> depthFormats_;
};

} // namespace tarvine::adapters::x11
