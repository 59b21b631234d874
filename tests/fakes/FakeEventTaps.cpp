#include "FakeEventTaps.h"

namespace tarvine::fakes {

namespace {

class FakeTap : public platform::EventTap {
public:
    explicit FakeTap(std::shared_ptr<FakeEventTaps::Tap> tap) : tap_(std::move(tap)) {}
    ~FakeTap() override { tap_->alive = false; }
    void enable() override { ++tap_->enables; }

private:
    std::shared_ptr<FakeEventTaps::Tap> tap_;
};

bool isDisabledNotification(platform::EventType type) {
    return type == platform::EventType::tapDisabledByTimeout ||
           type == platform::EventType::tapDisabledByUserInput;
}

} // namespace

std::unique_ptr<platform::EventTap> FakeEventTaps::create(Placement placement, std::uint64_t mask,
                                                          Callback callback) {
    if (!creatable) return nullptr;
    auto tap = std::make_shared<Tap>();
    tap->placement = placement;
    tap->mask = mask;
    tap->callback = std::move(callback);
    taps.push_back(tap);
    return std::make_unique<FakeTap>(tap);
}

void FakeEventTaps::postKeyPresses(std::int64_t keyCode, int count) {
    posted.emplace_back(keyCode, count);
    if (onPost) onPost(keyCode, count);
}

void FakeEventTaps::send(const platform::InputEvent& event) {
    auto current = taps; // a callback may create taps
    for (auto& tap : current) {
        if (!tap->alive) continue;
        if (isDisabledNotification(event.type) || (tap->mask & platform::maskBit(event.type)))
            tap->callback(event);
    }
}

void FakeEventTaps::key(std::int64_t keyCode, const std::string& text, std::uint64_t flags) {
    send(platform::InputEvent{
        .type = platform::EventType::keyDown, .keyCode = keyCode, .flags = flags, .text = text});
}

void FakeEventTaps::type(const std::string& text) {
    // One key per UTF-8 sequence; any code outside the special keys does for a character key.
    for (std::size_t at = 0; at < text.size();) {
        auto lead = static_cast<unsigned char>(text[at]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        key(0, text.substr(at, length));
        at += length;
    }
}

void FakeEventTaps::flags(std::int64_t keyCode, std::uint64_t value) {
    send(platform::InputEvent{
        .type = platform::EventType::flagsChanged, .keyCode = keyCode, .flags = value});
}

} // namespace tarvine::fakes
