#include "DragSource.h"

#include "Windows.h"

#include <algorithm>
#include <xcb/xinput.h>

namespace tarvine::glass::x11 {

namespace {

constexpr std::uint32_t kXdndVersion = 5;
constexpr std::uint32_t kOldestXdndVersion = 3;
// How long a target may take to answer a drop before the drag counts as not accepted.
constexpr std::chrono::milliseconds kStatusTimeout{2000};
constexpr std::chrono::milliseconds kFinishTimeout{5000};
constexpr int kMaxWindowDepth = 16;
constexpr xcb_keysym_t kEscapeKeysym = 0xff1b;

struct RawEventMask {
    xcb_input_event_mask_t head;
    std::uint32_t bits;
};

} // namespace

std::unique_ptr<DragSource> DragSource::begin(Display& display, std::string uri,
                                              std::unique_ptr<DragImage> image, Ended ended) {
    if (!display.xinputOpcode()) return nullptr;
    xcb_connection_t* c = display.xcb();
    xcb_window_t source = xcb_generate_id(c);
    std::uint32_t overrideRedirect = 1;
    xcb_create_window(c, 0, source, display.root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    xcb_set_selection_owner(c, source, display.atom(Atom::XdndSelection), XCB_CURRENT_TIME);
    auto owner = display.reply<xcb_get_selection_owner_reply_t>(
        xcb_get_selection_owner(c, display.atom(Atom::XdndSelection)).sequence);
    if (!owner || owner->owner != source) {
        xcb_destroy_window(c, source);
        return nullptr;
    }
    std::unique_ptr<DragSource> drag(
        new DragSource(display, std::move(uri), std::move(image), std::move(ended), source));
    drag->learnEscapeKeys();
    drag->selectInputEvents(true);
    // The button may have come up before the raw events were selected: then this is the drop.
    auto now = pointer(display);
    if (!now || !now->leftButtonDown)
        drag->buttonReleased(XCB_CURRENT_TIME);
    else
        drag->moveTo(now->rootX, now->rootY, XCB_CURRENT_TIME);
    return drag;
}

DragSource::DragSource(Display& display, std::string uri, std::unique_ptr<DragImage> image,
                       Ended ended, xcb_window_t source)
    : display_(display), uriList_(std::move(uri) + "\r\n"), image_(std::move(image)),
      ended_(std::move(ended)), source_(source), deadline_(display.loop()) {
    display_.addSink(this);
    display_.keepLoopAlive(true);
}

DragSource::~DragSource() {
    display_.removeSink(this);
    if (phase_ != Phase::Ended) {
        if (target_.window) send(target_.window, Atom::XdndLeave, 0, 0, 0, 0);
        selectInputEvents(false);
        display_.keepLoopAlive(false);
    }
    xcb_destroy_window(display_.xcb(), source_);
    xcb_flush(display_.xcb());
}

void DragSource::selectInputEvents(bool on) {
    RawEventMask mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                      on ? std::uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_MOTION |
                                         XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE |
                                         XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS}
                         : 0u};
    xcb_input_xi_select_events(display_.xcb(), display_.root(), 1, &mask.head);
}

void DragSource::handle(const xcb_generic_event_t& event) {
    std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_GE_GENERIC) {
        const auto& raw = reinterpret_cast<const xcb_input_raw_button_press_event_t&>(event);
        if (raw.extension != display_.xinputOpcode() || phase_ != Phase::Dragging) return;
        if (raw.event_type == XCB_INPUT_RAW_MOTION) {
            motionPending_ = true;
            motionTime_ = raw.time;
        } else if (raw.event_type == XCB_INPUT_RAW_KEY_PRESS) {
            if (std::find(escapeKeys_.begin(), escapeKeys_.end(), raw.detail) != escapeKeys_.end())
                cancel();
        } else if (raw.event_type == XCB_INPUT_RAW_BUTTON_RELEASE && raw.detail == 1)
            buttonReleased(raw.time);
    } else if (type == XCB_CLIENT_MESSAGE) {
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        if (message.window != source_ || message.format != 32) return;
        if (message.type == display_.atom(Atom::XdndStatus))
            statusReceived(message);
        else if (message.type == display_.atom(Atom::XdndFinished))
            finishedReceived(message);
    } else if (type == XCB_SELECTION_REQUEST) {
        answer(reinterpret_cast<const xcb_selection_request_event_t&>(event));
    }
}

void DragSource::drained() {
    if (!motionPending_ || phase_ != Phase::Dragging) return;
    motionPending_ = false;
    pointerMoved(motionTime_);
}

void DragSource::learnEscapeKeys() {
    const xcb_setup_t* setup = xcb_get_setup(display_.xcb());
    auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto mapping = display_.reply<xcb_get_keyboard_mapping_reply_t>(
        xcb_get_keyboard_mapping(display_.xcb(), setup->min_keycode, count).sequence);
    if (!mapping || mapping->keysyms_per_keycode == 0) return;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    int total = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    for (int i = 0; i < total; ++i)
        if (keysyms[i] == kEscapeKeysym)
            escapeKeys_.push_back(
                static_cast<xcb_keycode_t>(setup->min_keycode + i / mapping->keysyms_per_keycode));
}

// Escape ends the drag where it is, with nothing dropped.
void DragSource::cancel() {
    if (phase_ != Phase::Dragging) return;
    if (target_.window) send(target_.window, Atom::XdndLeave, 0, 0, 0, 0);
    finish(false);
}

void DragSource::connectionLost() {
    if (phase_ != Phase::Ended) finish(false);
}

void DragSource::pointerMoved(xcb_timestamp_t time) {
    // Raw events carry no position: the pointer is asked where it is now.
    if (auto now = pointer(display_)) moveTo(now->rootX, now->rootY, time);
}

void DragSource::buttonReleased(xcb_timestamp_t time) {
    // The pointer may have been warped since the last motion: the drop is where it is now.
    if (auto now = pointer(display_)) moveTo(now->rootX, now->rootY, time);
    time_ = time;
    dropRequested_ = true;
    image_->hide();
    if (!awaitingStatus_) {
        drop();
        return;
    }
    // The answer to the latest position decides the drop.
    deadline_.start(kStatusTimeout, [this] {
        awaitingStatus_ = false;
        accepted_ = false;
        drop();
        display_.pump();
    });
}

void DragSource::moveTo(std::int16_t x, std::int16_t y, xcb_timestamp_t time) {
    x_ = x;
    y_ = y;
    time_ = time;
    image_->centreOn(x, y);
    Target under = targetAt(x, y);
    if (under.window != target_.window) {
        if (target_.window) send(target_.window, Atom::XdndLeave, 0, 0, 0, 0);
        target_ = under;
        awaitingStatus_ = positionPending_ = accepted_ = false;
        if (target_.window)
            send(target_.window, Atom::XdndEnter, target_.version << 24,
                 display_.atom(Atom::UriList), XCB_ATOM_NONE, XCB_ATOM_NONE);
    }
    if (!target_.window) return;
    // One position at a time: the next goes out when the target has answered this one.
    if (awaitingStatus_)
        positionPending_ = true;
    else
        sendPosition();
}

void DragSource::sendPosition() {
    auto packed = static_cast<std::uint32_t>(static_cast<std::uint16_t>(x_)) << 16 |
                  static_cast<std::uint16_t>(y_);
    send(target_.window, Atom::XdndPosition, 0, packed, time_, display_.atom(Atom::XdndActionCopy));
    awaitingStatus_ = true;
    positionPending_ = false;
}

DragSource::Target DragSource::targetAt(std::int16_t x, std::int16_t y) {
    xcb_connection_t* c = display_.xcb();
    auto tree = display_.reply<xcb_query_tree_reply_t>(xcb_query_tree(c, display_.root()).sequence);
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    int count = xcb_query_tree_children_length(tree.get());
    // Every question first, then the answers: one round trip for the whole stack.
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> asked;
    for (int i = count - 1; i >= 0; --i)
        asked.emplace_back(xcb_get_window_attributes(c, children[i]),
                           xcb_get_geometry(c, children[i]));
    xcb_window_t topmost = XCB_NONE;
    for (int i = count - 1, k = 0; i >= 0; --i, ++k) {
        auto attributes =
            display_.reply<xcb_get_window_attributes_reply_t>(asked[k].first.sequence);
        auto geometry = display_.reply<xcb_get_geometry_reply_t>(asked[k].second.sequence);
        if (topmost || !attributes || !geometry || children[i] == image_->window() ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT)
            continue;
        int border = geometry->border_width * 2;
        if (x >= geometry->x && y >= geometry->y && x < geometry->x + geometry->width + border &&
            y < geometry->y + geometry->height + border)
            topmost = children[i];
    }
    // Down from the top-level frame to the first window that takes drops.
    xcb_window_t window = topmost;
    for (int depth = 0; window && depth < kMaxWindowDepth; ++depth) {
        if (std::uint32_t version = xdndVersion(window)) return {window, version};
        auto inside = display_.reply<xcb_translate_coordinates_reply_t>(
            xcb_translate_coordinates(c, display_.root(), window, x, y).sequence);
        window = inside ? inside->child : XCB_NONE;
    }
    return {};
}

std::uint32_t DragSource::xdndVersion(xcb_window_t window) {
    auto aware = display_.reply<xcb_get_property_reply_t>(
        xcb_get_property(display_.xcb(), 0, window, display_.atom(Atom::XdndAware),
                         XCB_GET_PROPERTY_TYPE_ANY, 0, 1)
            .sequence);
    if (!aware || aware->format != 32 || xcb_get_property_value_length(aware.get()) < 4) return 0;
    std::uint32_t version = *static_cast<const std::uint32_t*>(xcb_get_property_value(aware.get()));
    return version < kOldestXdndVersion ? 0 : std::min(version, kXdndVersion);
}

void DragSource::drop() {
    if (!target_.window || !accepted_) {
        if (target_.window) send(target_.window, Atom::XdndLeave, 0, 0, 0, 0);
        finish(false);
        return;
    }
    send(target_.window, Atom::XdndDrop, 0, time_, 0, 0);
    phase_ = Phase::Dropping;
    deadline_.start(kFinishTimeout, [this] {
        finish(false);
        display_.pump();
    });
}

void DragSource::statusReceived(const xcb_client_message_event_t& message) {
    if (message.data.data32[0] != target_.window || !awaitingStatus_) return;
    awaitingStatus_ = false;
    accepted_ = (message.data.data32[1] & 1) != 0;
    // The answer to the latest position decides a drop.
    if (positionPending_) {
        sendPosition();
    } else if (dropRequested_ && phase_ == Phase::Dragging) {
        deadline_.stop();
        drop();
    }
}

void DragSource::finishedReceived(const xcb_client_message_event_t& message) {
    if (phase_ != Phase::Dropping || message.data.data32[0] != target_.window) return;
    // Before version 5 a finished drop carries no result: the last status stands.
    bool accepted = target_.version >= 5
                        ? (message.data.data32[1] & 1) && message.data.data32[2] != XCB_ATOM_NONE
                        : accepted_;
    finish(accepted);
}

void DragSource::answer(const xcb_selection_request_event_t& request) {
    xcb_connection_t* c = display_.xcb();
    // Obsolete requestors name no property: the target's name is used instead.
    xcb_atom_t property = request.property ? request.property : request.target;
    if (request.selection != display_.atom(Atom::XdndSelection) || request.owner != source_) {
        property = XCB_ATOM_NONE;
    } else if (request.target == display_.atom(Atom::UriList)) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                            display_.atom(Atom::UriList), 8,
                            static_cast<std::uint32_t>(uriList_.size()), uriList_.data());
    } else if (request.target == display_.atom(Atom::Targets)) {
        xcb_atom_t targets[] = {display_.atom(Atom::Targets), display_.atom(Atom::UriList)};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM,
                            32, 2, targets);
    } else {
        property = XCB_ATOM_NONE;
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = property;
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
}

void DragSource::send(xcb_window_t to, Atom type, std::uint32_t d1, std::uint32_t d2,
                      std::uint32_t d3, std::uint32_t d4) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = to;
    message.type = display_.atom(type);
    message.data.data32[0] = source_;
    message.data.data32[1] = d1;
    message.data.data32[2] = d2;
    message.data.data32[3] = d3;
    message.data.data32[4] = d4;
    xcb_send_event(display_.xcb(), 0, to, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
}

void DragSource::finish(bool accepted) {
    phase_ = Phase::Ended;
    deadline_.stop();
    selectInputEvents(false);
    image_->hide();
    display_.keepLoopAlive(false);
    xcb_flush(display_.xcb());
    // The selection stays ours, so a target may still fetch the file after the drop.
    if (ended_) ended_(accepted);
}

} // namespace tarvine::glass::x11
