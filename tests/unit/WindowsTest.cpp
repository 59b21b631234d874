#include "FakePlatform.h"
#include "LoopDriver.h"
#include "desktop/WindowCommands.h"

#include <gtest/gtest.h>

using namespace tarvine;
using fakes::loop::await;

namespace {

// A command's reply body, once its handler has run on the main loop.
asio::awaitable<Message> replyBody(const CommandTable::Handler* handler, Message body) {
    const Request request(body);
    auto reply = (*handler)(request);
    Reply answer = co_await std::move(reply);
    co_return answer.body;
}

// "window.snap" on a fake desktop whose primary screen is 1512 x 982 points with a 38-point
// menu bar and no dock: visible frame 1512 x 944 at the origin.
class WindowsTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->fakePermissions.accessibility = true;
        platform->fakeScreens.list = {{{0, 0, 1512, 982}, {0, 0, 1512, 944}, 2.0, 1}};
        windows().focused = 42;
        windows().windowFrame = {100, 100, 400, 300};
        commands.registerIn(table);
    }

    Message snap(Message body) {
        return await(replyBody(table.find("window.snap"), std::move(body)));
    }

    fakes::FakeWindowManager& windows() { return platform->fakeWindowManager; }

    fakes::FakeIntegration* platform = nullptr;
    CommandTable table;
    WindowCommands commands;
};

const Message ok = {{"ok", true}};

TEST_F(WindowsTest, HalvesAndWholeOfTheVisibleFrame) {
    const std::vector<std::pair<Message, Rect>> cases = {
        {{{"to", "left"}}, {0, 38, 756, 944}},      {{{"to", "right"}}, {756, 38, 756, 944}},
        {{{"to", "maximize"}}, {0, 38, 1512, 944}}, {{{"to", ""}}, {0, 38, 1512, 944}},
        {{{"to", "Left"}}, {0, 38, 1512, 944}},     {{}, {0, 38, 1512, 944}},
    };
    for (const auto& [request, frame] : cases) {
        windows().windowFrame = {100, 100, 400, 300};
        EXPECT_EQ(snap(request), ok) << request;
        EXPECT_EQ(windows().windowFrame, frame) << request;
    }
    EXPECT_EQ(windows().calls.size(), 3 * cases.size());
    EXPECT_EQ(windows().calls[0], "size");
    EXPECT_EQ(windows().calls[1], "position");
    EXPECT_EQ(windows().calls[2], "size");
}

TEST_F(WindowsTest, AnOddWidthGivesTheLeftHalfTheExtraPoint) {
    platform->fakeScreens.list[0].visibleFrame = {0, 0, 1511, 944};
    snap({{"to", "left"}});
    EXPECT_EQ(windows().windowFrame, (Rect{0, 38, 756, 944}));
    snap({{"to", "right"}});
    EXPECT_EQ(windows().windowFrame, (Rect{756, 38, 755, 944}));
}

TEST_F(WindowsTest, TheWindowsCentreChoosesTheScreen) {
    // A secondary screen above the primary: negative y in accessibility coordinates.
    platform->fakeScreens.list.push_back({{0, 982, 1920, 1080}, {0, 982, 1920, 1050}, 1.0, 2});
    windows().windowFrame = {200, -800, 600, 400};
    snap({{"to", "left"}});
    EXPECT_EQ(windows().windowFrame, (Rect{0, -1050, 960, 1050}));

    // A centre on no screen: the main screen.
    platform->fakeScreens.main = platform->fakeScreens.list[1];
    windows().windowFrame = {5000, 5000, 100, 100};
    snap({{"to", "right"}});
    EXPECT_EQ(windows().windowFrame, (Rect{960, -1050, 960, 1050}));

    // Neither: the primary screen.
    platform->fakeScreens.main.reset();
    windows().windowFrame = {5000, 5000, 100, 100};
    snap({});
    EXPECT_EQ(windows().windowFrame, (Rect{0, 38, 1512, 944}));
}

TEST_F(WindowsTest, RefusalsAreReportedWithTheirCodes) {
    platform->fakeScreens.list.clear();
    EXPECT_EQ(snap({}), (Message{{"ok", false}, {"error", "no-window"}}));
    windows().focused.reset();
    EXPECT_EQ(snap({}), (Message{{"ok", false}, {"error", "no-window"}}));
    platform->fakePermissions.accessibility = false;
    EXPECT_EQ(snap({}), (Message{{"ok", false}, {"error", "accessibility"}}));
    EXPECT_TRUE(windows().calls.empty());
}

} // namespace
