#include "KeyCodes.h"

#include "platform/EventTap.h"

#include <utility>

namespace tarvine::adapters::x11 {

namespace {

namespace Flags = platform::EventFlags;
using Entry = std::pair<std::string_view, std::int64_t>;

// XKB key names of the pc105 positions and their documented codes.
constexpr Entry positions[] = {
    {"AC01", 0},   {"AC02", 1},   {"AC03", 2},   {"AC04", 3},   {"AC06", 4},   {"AC05", 5},
    {"AB01", 6},   {"AB02", 7},   {"AB03", 8},   {"AB04", 9},   {"LSGT", 10},  {"AB05", 11},
    {"AD01", 12},  {"AD02", 13},  {"AD03", 14},  {"AD04", 15},  {"AD06", 16},  {"AD05", 17},
    {"AE01", 18},  {"AE02", 19},  {"AE03", 20},  {"AE04", 21},  {"AE06", 22},  {"AE05", 23},
    {"AE12", 24},  {"AE09", 25},  {"AE07", 26},  {"AE11", 27},  {"AE08", 28},  {"AE10", 29},
    {"AD12", 30},  {"AD09", 31},  {"AD07", 32},  {"AD11", 33},  {"AD08", 34},  {"AD10", 35},
    {"RTRN", 36},  {"AC09", 37},  {"AC07", 38},  {"AC11", 39},  {"AC08", 40},  {"AC10", 41},
    {"BKSL", 42},  {"AB08", 43},  {"AB10", 44},  {"AB06", 45},  {"AB07", 46},  {"AB09", 47},
    {"TAB", 48},   {"SPCE", 49},  {"TLDE", 50},  {"BKSP", 51},  {"ESC", 53},   {"RWIN", 54},
    {"LWIN", 55},  {"LFSH", 56},  {"CAPS", 57},  {"LALT", 58},  {"LCTL", 59},  {"RTSH", 60},
    {"RALT", 61},  {"RCTL", 62},  {"FK17", 64},  {"KPDL", 65},  {"KPMU", 67},  {"KPAD", 69},
    {"NMLK", 71},  {"VOL+", 72},  {"VOL-", 73},  {"MUTE", 74},  {"KPDV", 75},  {"KPEN", 76},
    {"KPSU", 78},  {"FK18", 79},  {"FK19", 80},  {"KPEQ", 81},  {"KP0", 82},   {"KP1", 83},
    {"KP2", 84},   {"KP3", 85},   {"KP4", 86},   {"KP5", 87},   {"KP6", 88},   {"KP7", 89},
    {"FK20", 90},  {"KP8", 91},   {"KP9", 92},   {"FK05", 96},  {"FK06", 97},  {"FK07", 98},
    {"FK03", 99},  {"FK08", 100}, {"FK09", 101}, {"FK11", 103}, {"FK13", 105}, {"FK16", 106},
    {"FK14", 107}, {"FK10", 109}, {"COMP", 110}, {"FK12", 111}, {"FK15", 113}, {"INS", 114},
    {"HOME", 115}, {"PGUP", 116}, {"DELE", 117}, {"FK04", 118}, {"END", 119},  {"FK02", 120},
    {"PGDN", 121}, {"FK01", 122}, {"LEFT", 123}, {"RGHT", 124}, {"DOWN", 125}, {"UP", 126},
    {"MENU", 110}, {"LMTA", 55},  {"RMTA", 54},
};

} // namespace

std::int64_t virtualKeyCode(std::string_view name) {
    for (const auto& [position, code] : positions)
        if (position == name) return code;
    return platform::KeyCode::unknown;
}

std::string_view xkbKeyName(std::int64_t keyCode) {
    for (const auto& [position, code] : positions)
        if (code == keyCode) return position;
    return {};
}

std::optional<ModifierKey> modifierKey(xkb_keysym_t keysym, std::string_view name) {
    namespace Code = platform::KeyCode;
    switch (keysym) {
    case XKB_KEY_Shift_L:
        return ModifierKey{Code::shift, Flags::shift, Flags::leftShift};
    case XKB_KEY_Shift_R:
        return ModifierKey{Code::rightShift, Flags::shift, Flags::rightShift};
    case XKB_KEY_Control_L:
        return ModifierKey{Code::control, Flags::control, Flags::leftControl};
    case XKB_KEY_Control_R:
        return ModifierKey{Code::rightControl, Flags::control, Flags::rightControl};
    case XKB_KEY_Alt_L:
    case XKB_KEY_Meta_L:
        return ModifierKey{Code::option, Flags::option, Flags::leftOption};
    case XKB_KEY_Alt_R:
    case XKB_KEY_Meta_R:
        return ModifierKey{Code::rightOption, Flags::option, Flags::rightOption};
    case XKB_KEY_ISO_Level3_Shift:
    case XKB_KEY_Mode_switch:
        if (name == "RALT")
            return ModifierKey{Code::rightOption, Flags::option, Flags::rightOption};
        return ModifierKey{Code::option, Flags::option, Flags::leftOption};
    case XKB_KEY_Super_L:
    case XKB_KEY_Hyper_L:
        return ModifierKey{Code::command, Flags::command, Flags::leftCommand};
    case XKB_KEY_Super_R:
    case XKB_KEY_Hyper_R:
        return ModifierKey{Code::rightCommand, Flags::command, Flags::rightCommand};
    case XKB_KEY_Caps_Lock:
        return ModifierKey{Code::capsLock, 0, 0};
    default:
        return std::nullopt;
    }
}

} // namespace tarvine::adapters::x11
