#include "desktop/ModifierTaps.h"

#include "FakePlatform.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "desktop/ModifierCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tarvine;
using namespace std::chrono_literals;
using fakes::loop::advance;
using platform::EventType;
using testing::ElementsAre;
using testing::IsEmpty;
namespace Flags = platform::EventFlags;
namespace Code = platform::KeyCode;

namespace {

class ModifierTapsTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->fakePermissions.input = true;
        ASSERT_TRUE(taps.watch([this](const std::string& name) { reported.push_back(name); }));
    }

    fakes::FakeEventTaps& events() { return platform->fakeEventTaps; }

    // Presses and releases a key of the model, `held` for this long, with `others` down.
    void tap(std::int64_t code, std::uint64_t generic, std::uint64_t device,
             std::uint64_t others = 0, MainLoop::Clock::duration held = 100ms) {
        events().flags(code, others | generic | device);
        advance(held);
        events().flags(code, others);
    }

    fakes::FakeIntegration* platform = nullptr;
    ModifierTaps taps;
    std::vector<std::string> reported;
};

} // namespace

TEST_F(ModifierTapsTest, EachRightHandKeyTappedAloneIsReportedByName) {
    tap(Code::rightCommand, Flags::command, Flags::rightCommand);
    tap(Code::rightShift, Flags::shift, Flags::rightShift);
    tap(Code::rightOption, Flags::option, Flags::rightOption);
    tap(Code::rightControl, Flags::control, Flags::rightControl);
    // Caps Lock is no modifier here: a tap with it locked still counts.
    tap(Code::rightShift, Flags::shift, Flags::rightShift, Flags::alphaShift);
    EXPECT_THAT(reported, ElementsAre("RightCommand", "RightShift", "RightAlt", "RightControl",
                                      "RightShift"));
}

TEST_F(ModifierTapsTest, HoldingForTheLimitReportsNothing) {
    tap(Code::rightCommand, Flags::command, Flags::rightCommand, 0, 800ms);
    tap(Code::rightCommand, Flags::command, Flags::rightCommand, 0, 799ms);
    EXPECT_THAT(reported, ElementsAre("RightCommand"));
}

TEST_F(ModifierTapsTest, AnotherModifierOrInputBetweenDownAndUpDisqualifies) {
    // Pressed while left Command or while Shift is held.
    tap(Code::rightCommand, Flags::command, Flags::rightCommand,
        Flags::command | Flags::leftCommand);
    tap(Code::rightCommand, Flags::command, Flags::rightCommand, Flags::shift | Flags::leftShift);
    // A letter, a click, a wheel-less middle click between down and up.
    for (auto between : {EventType::keyDown, EventType::leftMouseDown, EventType::rightMouseDown,
                         EventType::otherMouseDown}) {
        events().flags(Code::rightOption, Flags::option | Flags::rightOption);
        events().send(between);
        events().flags(Code::rightOption, 0);
    }
    // Right Control while right Shift is down: neither counts.
    events().flags(Code::rightShift, Flags::shift | Flags::rightShift);
    events().flags(Code::rightControl,
                   Flags::shift | Flags::rightShift | Flags::control | Flags::rightControl);
    events().flags(Code::rightControl, Flags::shift | Flags::rightShift);
    events().flags(Code::rightShift, 0);
    // Caps Lock toggled while the key is down.
    events().flags(Code::rightShift, Flags::shift | Flags::rightShift);
    events().flags(Code::capsLock, Flags::shift | Flags::rightShift | Flags::alphaShift);
    events().flags(Code::rightShift, Flags::alphaShift);
    // Left-hand keys alone.
    tap(Code::shift, Flags::shift, Flags::leftShift);
    tap(Code::command, Flags::command, Flags::leftCommand);
    EXPECT_THAT(reported, IsEmpty());
}

TEST_F(ModifierTapsTest, SecondWatchReplacesTheCallbackAndKeepsTheOneTap) {
    std::vector<std::string> second;
    ASSERT_TRUE(taps.watch([&](const std::string& name) { second.push_back(name); }));
    tap(Code::rightShift, Flags::shift, Flags::rightShift);
    EXPECT_THAT(reported, IsEmpty());
    EXPECT_THAT(second, ElementsAre("RightShift"));
    EXPECT_EQ(events().taps.size(), 1u);
    EXPECT_EQ(events().taps[0]->mask, 0x200140Au); // flags changed, key down, three mouse downs

    events().send(EventType::tapDisabledByUserInput);
    EXPECT_EQ(events().taps[0]->enables, 1);
}

TEST(ModifierCommandsTest, WatchEmitsModifierEventsOrAsksOnceForAccess) {
    auto& platform = fakes::installFakePlatform();
    fakes::RecordingEvents output;
    CommandTable table;
    ModifierCommands commands(output);
    commands.registerIn(table);
    const Message body = {{"cmd", "modifiers.watch"}};
    const Request request(body);
    auto watch = [&] {
        auto call = [&]() -> asio::awaitable<Message> {
            Reply reply = co_await (*table.find("modifiers.watch"))(request);
            co_return reply.body;
        };
        return fakes::loop::await(call());
    };

    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(watch(), (Message{{"ok", false}, {"error", "input-monitoring"}}));
    EXPECT_EQ(platform.fakeEventTaps.accessRequests, 1);
    EXPECT_TRUE(platform.fakeEventTaps.taps.empty());

    platform.fakePermissions.input = true;
    EXPECT_EQ(watch(), (Message{{"ok", true}}));
    platform.fakeEventTaps.flags(Code::rightControl, Flags::control | Flags::rightControl);
    platform.fakeEventTaps.flags(Code::rightControl, 0);
    EXPECT_THAT(output.messages(),
                ElementsAre(Message{{"type", "modifier"}, {"key", "RightControl"}}));
}
