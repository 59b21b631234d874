#include "KeyboardOutput.h"

#include "Connection.h"
#include "base/MainLoop.h"
#include "base/Text.h"

#include <algorithm>
#include <map>
#include <set>
#include <xcb/xtest.h>

namespace tarvine::adapters::x11 {

namespace {

using namespace std::chrono_literals;
using Clock = MainLoop::Clock;
using Keysym = std::uint32_t;
using platform::KeyFlags::command;
using platform::KeyFlags::control;
using platform::KeyFlags::option;
using platform::KeyFlags::shift;

// Clients read a changed keymap when they translate a key, not when the change is made: a
// spare keycode keeps its keysym this long after its last press before it is mapped anew.
constexpr auto spareHold = 500ms;

constexpr Keysym noSymbol = 0;
constexpr Keysym returnKey = 0xff0d;
constexpr Keysym shiftL = 0xffe1;
constexpr Keysym controlL = 0xffe3;
constexpr Keysym altL = 0xffe9;

// The documented virtual key codes and the keysyms that stand for them here.
const std::map<std::uint16_t, Keysym>& keysymsByKeyCode() {
    static const std::map<std::uint16_t, Keysym> table = {
        {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},
        {6, 'z'},      {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},
        {13, 'w'},     {14, 'e'},     {15, 'r'},     {16, 'y'},     {17, 't'},     {18, '1'},
        {19, '2'},     {20, '3'},     {21, '4'},     {22, '6'},     {23, '5'},     {24, '='},
        {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},     {29, '0'},     {30, ']'},
        {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},     {35, 'p'},     {36, returnKey},
        {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},
        {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},     {48, 0xff09},
        {49, ' '},     {50, '`'},     {51, 0xff08},  {53, 0xff1b},  {96, 0xffc2},  {97, 0xffc3},
        {98, 0xffc4},  {99, 0xffc0},  {100, 0xffc5}, {101, 0xffc6}, {103, 0xffc8}, {109, 0xffc7},
        {111, 0xffc9}, {115, 0xff50}, {116, 0xff55}, {117, 0xffff}, {118, 0xffc1}, {119, 0xff57},
        {120, 0xffbf}, {121, 0xff56}, {122, 0xffbe}, {123, 0xff51}, {124, 0xff53}, {125, 0xff54},
        {126, 0xff52},
    };
    return table;
}

// The keysym that enters one character: Latin-1 keysyms are the code points themselves,
// every other character has its Unicode keysym.
Keysym keysymFor(char32_t c) {
    if (c == U'\n' || c == U'\r') return returnKey;
    if (c == U'\t') return 0xff09;
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff)) return c;
    if (c < 0x20 || c == 0x7f) return noSymbol;
    return 0x01000000 | c;
}

// Modifier indexes of the core protocol, and the flags they stand for.
constexpr int shiftIndex = 0, controlIndex = 2, mod1Index = 3, mod4Index = 6, mod5Index = 7;

class X11KeyboardOutput final : public platform::KeyboardOutput {
public:
    asio::awaitable<bool> post(platform::KeyEvent event) override {
        if (!ready()) co_return false;
        loadKeymap();
        bool posted;
        if (!event.text.empty())
            posted = event.down ? co_await enter(event.text) : true;
        else
            posted = key(event);
        drainEvents();
        co_return posted;
    }

    std::uint64_t modifierFlags() override {
        if (!ready()) return 0;
        auto c = x_->xcb();
        Reply<xcb_query_pointer_reply_t> reply(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, x_->root()), nullptr));
        if (!reply) return 0;
        std::uint64_t flags = 0;
        if (reply->mask & XCB_MOD_MASK_SHIFT) flags |= shift;
        if (reply->mask & XCB_MOD_MASK_CONTROL) flags |= control;
        if (reply->mask & XCB_MOD_MASK_1) flags |= option;
        if (reply->mask & XCB_MOD_MASK_4) flags |= command;
        return flags;
    }

private:
    struct Spare {
        Keysym keysym = noSymbol;
        Clock::time_point lastUsed{};
    };

    bool ready() {
        if (x_ && !xcb_connection_has_error(x_->xcb())) return true;
        if (tried_) return false;
        tried_ = true;
        x_ = Connection::open();
        if (!x_ || !x_->hasExtension("XTEST")) {
            x_.reset();
            return false;
        }
        auto c = x_->xcb();
        Reply<xcb_test_get_version_reply_t> version(
            xcb_test_get_version_reply(c, xcb_test_get_version(c, 2, 2), nullptr));
        if (!version) x_.reset();
        return x_ != nullptr;
    }

    // Events nobody asked for (keymap notices) would pile up in the connection otherwise.
    void drainEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(x_->xcb()))
            std::free(event);
    }

    // The keymap as the server has it now, every keycode by every column, and the
    // modifier keys. Keycodes with no keysym at all are the spares.
    void loadKeymap() {
        auto c = x_->xcb();
        const xcb_setup_t* setup = xcb_get_setup(c);
        minKeycode_ = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto mapCookie = xcb_get_keyboard_mapping(c, setup->min_keycode, std::uint8_t(count));
        auto modCookie = xcb_get_modifier_mapping(c);
        Reply<xcb_get_keyboard_mapping_reply_t> map(
            xcb_get_keyboard_mapping_reply(c, mapCookie, nullptr));
        Reply<xcb_get_modifier_mapping_reply_t> mods(
            xcb_get_modifier_mapping_reply(c, modCookie, nullptr));
        if (!map || !mods) return;
        width_ = map->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
        keysyms_.assign(syms, syms + std::size_t(count) * width_);

        modifierKeys_.assign(8, {});
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mods.get());
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < mods->keycodes_per_modifier; ++k)
                if (auto code = codes[m * mods->keycodes_per_modifier + k])
                    modifierKeys_[m].push_back(code);

        for (int i = 0; i < count; ++i) {
            auto code = xcb_keycode_t(minKeycode_ + i);
            if (spares_.count(code) || isModifier(code)) continue;
            const auto* row = &keysyms_[std::size_t(i) * width_];
            if (std::all_of(row, row + width_, [](Keysym k) { return k == noSymbol; }))
                spares_[code] = Spare{};
        }
    }

    bool isModifier(xcb_keycode_t code) const {
        for (const auto& keys : modifierKeys_)
            if (std::find(keys.begin(), keys.end(), code) != keys.end()) return true;
        return false;
    }

    // The keycode whose column `column` (0: plain, 1: with Shift) is `keysym`, outside the
    // spares; 0 when there is none.
    xcb_keycode_t keycodeFor(Keysym keysym, int column) const {
        if (width_ <= column) return 0;
        for (std::size_t i = 0; i * width_ < keysyms_.size(); ++i) {
            auto code = xcb_keycode_t(minKeycode_ + i);
            if (keysyms_[i * width_ + std::size_t(column)] == keysym && !spares_.count(code))
                return code;
        }
        return 0;
    }

    void fake(std::uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(x_->xcb(), type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    }

    std::uint16_t modifierState() {
        auto c = x_->xcb();
        Reply<xcb_query_pointer_reply_t> reply(
            xcb_query_pointer_reply(c, xcb_query_pointer(c, x_->root()), nullptr));
        return reply ? reply->mask : 0;
    }

    // Lets go of every modifier key that is down except `keep`, so that a key the user still
    // holds (the hot key that asked for this) cannot change what the events mean.
    void releaseModifiers(const std::set<xcb_keycode_t>& keep) {
        auto c = x_->xcb();
        Reply<xcb_query_keymap_reply_t> keys(
            xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
        if (!keys) return;
        for (int m : {shiftIndex, controlIndex, mod1Index, mod4Index, mod5Index})
            for (auto code : modifierKeys_[m])
                if ((keys->keys[code / 8] >> (code % 8)) & 1 && !keep.count(code))
                    fake(XCB_KEY_RELEASE, code);
    }

    // The modifier keys that make up `flags`.
    std::vector<xcb_keycode_t> modifierKeysFor(std::uint64_t flags) const {
        std::vector<xcb_keycode_t> keys;
        auto add = [&](Keysym keysym) {
            if (auto code = keycodeFor(keysym, 0)) keys.push_back(code);
        };
        if (flags & (command | control)) add(controlL);
        if (flags & shift) add(shiftL);
        if (flags & option) add(altL);
        return keys;
    }

    // A documented key code with exactly the given modifiers.
    bool key(const platform::KeyEvent& event) {
        auto found = keysymsByKeyCode().find(event.keyCode);
        if (found == keysymsByKeyCode().end()) return false;
        xcb_keycode_t code = keycodeFor(found->second, 0);
        if (!code) return false;
        auto modifiers = modifierKeysFor(event.flags);
        if (event.down) {
            releaseModifiers({modifiers.begin(), modifiers.end()});
            for (auto m : modifiers)
                fake(XCB_KEY_PRESS, m);
            fake(XCB_KEY_PRESS, code);
        } else {
            fake(XCB_KEY_RELEASE, code);
            for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
                fake(XCB_KEY_RELEASE, *it);
        }
        xcb_flush(x_->xcb());
        return true;
    }

    // Enters each character of `text` with no modifier in effect.
    asio::awaitable<bool> enter(const std::string& text) {
        // A restore still pending from earlier text must not empty spares this text uses.
        ++restoreGeneration_;
        releaseModifiers({});
        const bool capsLock = modifierState() & XCB_MOD_MASK_LOCK;
        const xcb_keycode_t shiftKey = keycodeFor(shiftL, 0);
        bool all = true;
        for (char32_t c : Text::codePoints(text)) {
            const Keysym keysym = keysymFor(c);
            if (keysym == noSymbol) {
                all = false;
                continue;
            }
            // Caps Lock would change letters found in the keymap; a spare's two equal
            // columns are immune to it.
            xcb_keycode_t code = capsLock && keysym != returnKey ? 0 : keycodeFor(keysym, 0);
            bool shifted = false;
            if (!code && !capsLock && shiftKey && (code = keycodeFor(keysym, 1))) shifted = true;
            if (!code) code = co_await spareFor(keysym);
            if (!code) {
                all = false;
                continue;
            }
            if (shifted) fake(XCB_KEY_PRESS, shiftKey);
            fake(XCB_KEY_PRESS, code);
            fake(XCB_KEY_RELEASE, code);
            if (shifted) fake(XCB_KEY_RELEASE, shiftKey);
            if (auto spare = spares_.find(code); spare != spares_.end())
                spare->second.lastUsed = Clock::now();
        }
        xcb_flush(x_->xcb());
        scheduleRestore();
        co_return all;
    }

    // A spare keycode that carries `keysym` now: one that already does, else a free one,
    // else the one used longest ago, once its hold has passed.
    asio::awaitable<xcb_keycode_t> spareFor(Keysym keysym) {
        if (spares_.empty()) co_return 0;
        for (auto& [code, spare] : spares_)
            if (spare.keysym == keysym) co_return code;
        auto chosen = std::min_element(spares_.begin(), spares_.end(), [](auto& a, auto& b) {
            return a.second.lastUsed < b.second.lastUsed;
        });
        if (chosen->second.keysym != noSymbol) {
            auto wait = chosen->second.lastUsed + spareHold - Clock::now();
            if (wait > Clock::duration::zero()) {
                xcb_flush(x_->xcb());
                co_await MainLoop::sleep(wait);
            }
        }
        const xcb_keycode_t code = chosen->first;
        if (!map(code, keysym)) co_return 0;
        chosen->second.keysym = keysym;
        co_return code;
    }

    // Maps the keycode to `keysym` in both columns (so that neither Shift nor Caps Lock
    // changes it), and checks that the server took it.
    bool map(xcb_keycode_t code, Keysym keysym) {
        auto c = x_->xcb();
        const xcb_keysym_t row[2] = {keysym, keysym};
        auto cookie = xcb_change_keyboard_mapping_checked(c, 1, code, 2, row);
        Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
        return !error;
    }

    // Gives the spares back their empty rows once every client has had time to read them.
    void scheduleRestore() {
        const auto generation = ++restoreGeneration_;
        MainLoop::spawn(restoreLater(generation));
    }

    asio::awaitable<void> restoreLater(std::uint64_t generation) {
        co_await MainLoop::sleep(spareHold);
        if (generation != restoreGeneration_ || !x_) co_return;
        const xcb_keysym_t row[2] = {noSymbol, noSymbol};
        for (auto& [code, spare] : spares_) {
            if (spare.keysym == noSymbol) continue;
            xcb_change_keyboard_mapping(x_->xcb(), 1, code, 2, row);
            spare.keysym = noSymbol;
        }
        xcb_flush(x_->xcb());
    }

    std::unique_ptr<Connection> x_;
    bool tried_ = false;
    xcb_keycode_t minKeycode_ = 8;
    std::uint8_t width_ = 0;
    std::vector<Keysym> keysyms_;
    std::vector<std::vector<xcb_keycode_t>> modifierKeys_;
    std::map<xcb_keycode_t, Spare> spares_;
    std::uint64_t restoreGeneration_ = 0;
};

} // namespace

std::unique_ptr<platform::KeyboardOutput> makeKeyboardOutput() {
    return std::make_unique<X11KeyboardOutput>();
}

} // namespace tarvine::adapters::x11
