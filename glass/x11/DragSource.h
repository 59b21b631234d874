#pragma once

#include "../LoopTimer.h"
#include "Display.h"
#include "DragImage.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvine::glass::x11 {

// The source side of an XDND drag of one file (text/uri-list), offered for copying. The
// pointer is followed through XInput raw events, which reach us whoever holds the pointer
// grab; the target's answers come to our own hidden window. Events arrive through the
// display's watch on the host's loop, so the drag runs on the main thread without blocking it.
class DragSource : public EventSink {
public:
    // Told once, when the drag ends: whether the target took the file.
    using Ended = std::function<void(bool accepted)>;

    // Starts the drag with the pointer where it is now; null when the display cannot drag
    // (no XInput 2.2, or the drag selection could not be owned).
    static std::unique_ptr<DragSource> begin(Display& display, std::string uri,
                                             std::unique_ptr<DragImage> image, Ended ended);
    ~DragSource() override;

    void handle(const xcb_generic_event_t& event) override;
    void drained() override;
    void connectionLost() override;

private:
    struct Target {
        xcb_window_t window = XCB_NONE;
        std::uint32_t version = 0;
    };
    enum class Phase { Dragging, Dropping, Ended };

    DragSource(Display& display, std::string uri, std::unique_ptr<DragImage> image, Ended ended,
               xcb_window_t source);
    void selectInputEvents(bool on);
    void learnEscapeKeys();
    void cancel();
    void pointerMoved(xcb_timestamp_t time);
    void buttonReleased(xcb_timestamp_t time);
    void moveTo(std::int16_t x, std::int16_t y, xcb_timestamp_t time);
    Target targetAt(std::int16_t x, std::int16_t y);
    std::uint32_t xdndVersion(xcb_window_t window);
    void sendPosition();
    void drop();
    void statusReceived(const xcb_client_message_event_t& message);
    void finishedReceived(const xcb_client_message_event_t& message);
    void answer(const xcb_selection_request_event_t& request);
    void send(xcb_window_t to, Atom type, std::uint32_t d1, std::uint32_t d2, std::uint32_t d3,
              std::uint32_t d4);
    void finish(bool accepted);

    Display& display_;
    std::string uriList_;
    std::unique_ptr<DragImage> image_;
    Ended ended_;
    xcb_window_t source_;
    LoopTimer deadline_;
    Phase phase_ = Phase::Dragging;
    Target target_;
    std::int16_t x_ = 0;
    std::int16_t y_ = 0;
    xcb_timestamp_t time_ = XCB_CURRENT_TIME;
    bool awaitingStatus_ = false;
    bool positionPending_ = false;
    bool accepted_ = false;
    bool dropRequested_ = false;
    // Raw motion only says that the pointer moved: a burst is answered once, after it.
    bool motionPending_ = false;
    xcb_timestamp_t motionTime_ = XCB_CURRENT_TIME;
    std::vector<xcb_keycode_t> escapeKeys_;
};

} // namespace tarvine::glass::x11
