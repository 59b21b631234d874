#include "desktop/ScreenCommands.h"

#include "FakePlatform.h"
#include "LoopDriver.h"
#include "base/Base64.h"
#include "desktop/Capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

platform::Screen screen(Rect frame, double scale, std::optional<std::uint32_t> number) {
    return {frame, frame, scale, number};
}

platform::ShareableApplication application(std::int32_t pid) {
    return {pid, "App " + std::to_string(pid), "app." + std::to_string(pid)};
}

// The screen commands on a fake desktop: one 1512 x 982-point display at scale 2 under the
// mouse, unless a test says otherwise.
class ScreenCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        commands.registerIn(table);
        screens().list = {screen({0, 0, 1512, 982}, 2.0, 7)};
        screens().mouse = {100, 100};
        shots().content.displays = {{7, {0, 0, 1512, 982}}};
    }

    Message run(const std::string& name, Message body) {
        return await(replyBody(table.find(name), std::move(body)));
    }

    fakes::FakeScreens& screens() { return platform->fakeScreens; }
    fakes::FakeScreenshots& shots() { return platform->fakeScreenshots; }
    std::pair<int, int> lastSize() {
        return {shots().shots.back().width, shots().shots.back().height};
    }

    fakes::FakeIntegration* platform = nullptr;
    CommandTable table;
    ScreenCommands commands;
};

TEST_F(ScreenCommandsTest, CaptureSizeKeepsWithinTheLimitAndNeverEnlarges) {
    const std::vector<std::pair<Message, std::pair<int, int>>> cases = {
        {{}, {1440, 935}},               // the default limit
        {{{"max", 320}}, {320, 207}},    // the fingerprint's limit
        {{{"max", 3024}}, {3024, 1964}}, // exactly the longer side
        {{{"max", 9000}}, {3024, 1964}},
        {{{"max", "800"}}, {1440, 935}}, // not an integer: the default
    };
    for (const auto& [members, size] : cases) {
        Message reply = run("capture", members);
        EXPECT_EQ(reply["ok"], true) << members;
        EXPECT_EQ(lastSize(), size) << members;
        EXPECT_EQ(reply["dataURL"].get<std::string>().rfind("data:image/jpeg;base64,/9j/", 0), 0u);
    }
}

TEST_F(ScreenCommandsTest, CaptureChoosesTheDisplayUnderTheMouse) {
    screens().list.push_back(screen({1512, 0, 1920, 1080}, 1.0, 9));
    shots().content.displays.push_back({9, {1512, 0, 1920, 1080}});
    screens().mouse = {2000, 500};
    run("capture", {{"max", 5000}});
    EXPECT_EQ(shots().shots.back().filter.display->displayID, 9u);
    EXPECT_EQ(lastSize(), std::make_pair(1920, 1080));

    // A screen whose number matches no display: the first display, at that screen's scale.
    screens().list[1].number = 99;
    run("capture", {{"max", 5000}});
    EXPECT_EQ(shots().shots.back().filter.display->displayID, 7u);
    EXPECT_EQ(lastSize(), std::make_pair(1512, 982));

    // No screens at all: the first display at scale 2.
    screens().list.clear();
    run("capture", {{"max", 5000}});
    EXPECT_EQ(lastSize(), std::make_pair(3024, 1964));
}

TEST_F(ScreenCommandsTest, CaptureLeavesOutThisProcessAndTheExcludedOne) {
    Capture::excludedPIDs().insert(4242);
    shots().content.applications = {application(777), application(4242), application(::getpid())};
    run("capture", {});
    std::vector<std::int32_t> left;
    for (const auto& app : shots().shots.back().filter.excludingApplications)
        left.push_back(app.processID);
    EXPECT_EQ(left, (std::vector<std::int32_t>{4242, ::getpid()}));
    EXPECT_TRUE(shots().shots.back().filter.exceptingWindows.empty());
}

TEST_F(ScreenCommandsTest, FailuresBecomeErrorReplies) {
    shots().content.displays.clear();
    const Message expected = {
        {"ok", false},
        {"error",
         "No display available to capture. Grant Screen Recording permission in System Settings."}};
    EXPECT_EQ(run("capture", {}), expected);
    EXPECT_EQ(run("fingerprint", {}), expected);
    EXPECT_EQ(run("wallpaper", {}), (Message{{"ok", false}, {"error", "No wallpaper window."}}));
}

TEST_F(ScreenCommandsTest, FingerprintIsA32By18GreyThumbnail) {
    shots().colour = 0x808080;
    Message reply = run("fingerprint", {});
    EXPECT_EQ(lastSize(), std::make_pair(320, 207));
    ASSERT_EQ(reply["pixels"].size(), 576u);
    EXPECT_EQ(reply["pixels"][0], 128);
    EXPECT_EQ(reply["pixels"][575], 128);

    // A 1440 x 900 display is squeezed, not cropped: still 576 bytes, all of the picture.
    shots().content.displays = {{7, {0, 0, 1440, 900}}};
    shots().colour = 0xff0000;
    reply = run("fingerprint", {});
    ASSERT_EQ(reply["pixels"].size(), 576u);
    EXPECT_EQ(reply["pixels"][575], 76);
}

TEST_F(ScreenCommandsTest, WallpaperSizeAndWindowChoice) {
    const auto wallpaper = [](std::uint32_t id, Rect frame) {
        platform::ShareableWindow window;
        window.windowID = id;
        window.frame = frame;
        window.desktopPicture = true;
        return window;
    };
    platform::ShareableWindow ordinary;
    ordinary.windowID = 1;
    ordinary.frame = {0, 0, 1512, 982};
    shots().content.windows = {ordinary, wallpaper(2, {1512, 0, 1280, 800}),
                               wallpaper(3, {0, 0, 1512, 982})};
    Message reply = run("wallpaper", {});
    EXPECT_EQ(reply["ok"], true);
    EXPECT_EQ(shots().shots.back().filter.desktopIndependentWindow->windowID, 3u);
    EXPECT_EQ(lastSize(), std::make_pair(2560, 1662));

    // No display with the screen's number: the first wallpaper window, 1280 x 800 at 2.0.
    screens().list[0].number = 99;
    run("wallpaper", {});
    EXPECT_EQ(shots().shots.back().filter.desktopIndependentWindow->windowID, 2u);
    EXPECT_EQ(lastSize(), std::make_pair(2560, 1600));

    // At scale 1 a 1920 x 1080 window is never enlarged to the 2560 limit.
    shots().content.windows = {wallpaper(4, {0, 0, 1920, 1080})};
    screens().list[0].backingScaleFactor = 1.0;
    run("wallpaper", {});
    EXPECT_EQ(lastSize(), std::make_pair(1920, 1080));
}

TEST(Base64, EncodesWithPaddingAndTheStandardAlphabet) {
    const auto encode = [](const std::string& text) {
        return base64({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encode("\xfb\xff\xbf"), "+/+/");
}

} // namespace
