#include "Glass.h"

#include "RoundedRegion.h"
#include "x11/BlurRegion.h"
#include "x11/Windows.h"

#include <map>

namespace tarvine::glass {

namespace {

struct Panel {
    double x = 0, y = 0, width = 0, height = 0, radius = 0;
    // Grows and shrinks with the window; otherwise keeps its size at the top-left.
    bool resizes = false;
};

// The panels of one window, and the window's size when their frames were last set: a
// resizing panel keeps its margins from there on, as an autoresizing view does.
struct PanelList {
    std::vector<Panel> panels;
    x11::Size frameSize;
    x11::Size currentSize;
};

std::vector<Box> regionOf(const PanelList& list, double scale) {
    auto dw = static_cast<double>(list.currentSize.width) - list.frameSize.width;
    auto dh = static_cast<double>(list.currentSize.height) - list.frameSize.height;
    std::vector<Box> region;
    for (const Panel& panel : list.panels) {
        double width = panel.width * scale + (panel.resizes ? dw : 0);
        double height = panel.height * scale + (panel.resizes ? dh : 0);
        auto boxes =
            roundedRegion(panel.x * scale, panel.y * scale, width, height, panel.radius * scale);
        region.insert(region.end(), boxes.begin(), boxes.end());
    }
    return region;
}

// The panel lists of the host's windows (what each content view keeps under kGlass), kept in
// step with the windows' sizes and dropped with the windows.
class PanelLists : public x11::EventSink {
public:
    PanelList& of(x11::Display& display, xcb_window_t window) {
        auto found = lists_.find(window);
        if (found != lists_.end()) return found->second;
        if (lists_.empty()) display.addSink(this);
        display_ = &display;
        // Our own event mask on the window: other clients' masks are theirs.
        std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(display.xcb(), window, XCB_CW_EVENT_MASK, &mask);
        return lists_[window];
    }

    void forget(x11::Display& display) {
        display.removeSink(this);
        lists_.clear();
    }

    void handle(const xcb_generic_event_t& event) override {
        switch (event.response_type & 0x7f) {
        case XCB_CONFIGURE_NOTIFY:
            resized(reinterpret_cast<const xcb_configure_notify_event_t&>(event));
            break;
        case XCB_DESTROY_NOTIFY:
            lists_.erase(reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window);
            break;
        default:
            break;
        }
    }

private:
    void resized(const xcb_configure_notify_event_t& event) {
        auto found = lists_.find(event.window);
        if (found == lists_.end() || event.event != event.window) return;
        PanelList& list = found->second;
        if (list.currentSize.width == event.width && list.currentSize.height == event.height)
            return;
        list.currentSize = {event.width, event.height};
        if (!list.panels.empty())
            x11::setBlurRegion(*display_, event.window, regionOf(list, display_->scale()));
    }

    std::map<xcb_window_t, PanelList> lists_;
    x11::Display* display_ = nullptr;
};

PanelLists panelLists;

} // namespace

bool apply(x11::Display& display, xcb_window_t window, const std::vector<double>& rectangles,
           const std::vector<double>& tint) {
    if (!x11::blurSupported(display)) return false;
    auto size = x11::windowSize(display, window);
    if (!size) return false;
    PanelList& list = panelLists.of(display, window);
    // The blur protocol has no tint: the host's web content paints its own over the glass.
    (void)tint;
    std::size_t count = rectangles.size() / 6;
    if (list.panels.size() > count) list.panels.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double* r = &rectangles[i * 6];
        Panel updated{r[0], r[1], r[2], r[3], r[4], r[5] != 0};
        if (i < list.panels.size())
            list.panels[i] = updated;
        else
            list.panels.push_back(updated);
    }
    list.frameSize = list.currentSize = *size;
    x11::setBlurRegion(display, window, regionOf(list, display.scale()));
    return true;
}

void forgetPanels(x11::Display& display) {
    panelLists.forget(display);
}

} // namespace tarvine::glass
