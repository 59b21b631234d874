#include "desktop/ModifierTaps.h"

#include "platform/Permissions.h"
#include "platform/Platform.h"

namespace tarvine {

namespace {

using namespace std::chrono_literals;
namespace Flags = platform::EventFlags;
using platform::EventType;
using platform::maskBit;

constexpr auto tapLimit = 800ms;
// Shift, Control, Option and Command; Caps Lock and Function are not modifiers here.
constexpr std::uint64_t modifierMask = 0x1E0000;

// The device bit of the left-hand key of the same kind as each right-hand key.
std::uint64_t leftHandBit(std::int64_t keyCode) {
    switch (keyCode) {
    case platform::KeyCode::rightCommand:
        return Flags::leftCommand;
    case platform::KeyCode::rightShift:
        return Flags::leftShift;
    case platform::KeyCode::rightOption:
        return Flags::leftOption;
    default:
        return Flags::leftControl;
    }
}

bool isDisabledNotification(EventType type) {
    return type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput;
}

} // namespace

const std::map<std::int64_t, ModifierTaps::Key>& ModifierTaps::keys() {
    static const std::map<std::int64_t, Key> table = {
        {platform::KeyCode::rightCommand, {"RightCommand", Flags::command, Flags::rightCommand}},
        {platform::KeyCode::rightShift, {"RightShift", Flags::shift, Flags::rightShift}},
        {platform::KeyCode::rightOption, {"RightAlt", Flags::option, Flags::rightOption}},
        {platform::KeyCode::rightControl, {"RightControl", Flags::control, Flags::rightControl}},
    };
    return table;
}

bool ModifierTaps::watch(OnTap onTap) {
    auto& platform = platform::integration();
    if (!platform.permissions().listenEventPreflight()) {
        if (!asked_) {
            asked_ = true;
            platform.eventTaps().requestListenEventAccess();
        }
        return false;
    }
    onTap_ = std::move(onTap);
    if (tap_) return true;
    std::uint64_t mask = maskBit(EventType::flagsChanged) | maskBit(EventType::keyDown) |
                         maskBit(EventType::leftMouseDown) | maskBit(EventType::rightMouseDown) |
                         maskBit(EventType::otherMouseDown);
    tap_ = platform.eventTaps().create(platform::EventTaps::Placement::headInsert, mask,
                                       [this](const platform::InputEvent& e) { handle(e); });
    return tap_ != nullptr;
}

void ModifierTaps::handle(const platform::InputEvent& event) {
    if (isDisabledNotification(event.type)) {
        if (tap_) tap_->enable();
        return;
    }
    if (event.type == EventType::flagsChanged) {
        if (auto found = keys().find(event.keyCode); found != keys().end()) {
            keyChanged(event.keyCode, found->second, event.flags);
            return;
        }
    }
    down_.reset();
}

void ModifierTaps::keyChanged(std::int64_t keyCode, const Key& key, std::uint64_t flags) {
    if (flags & key.device) {
        bool alone = (flags & modifierMask) == key.mask && !(flags & leftHandBit(keyCode)) &&
                     !down_.has_value();
        down_ = alone ? std::optional(keyCode) : std::nullopt;
        downAt_ = MainLoop::Clock::now();
        return;
    }
    bool tapped = down_ == keyCode && MainLoop::Clock::now() - downAt_ < tapLimit && onTap_;
    down_.reset();
    if (tapped) onTap_(key.name);
}

} // namespace tarvine
