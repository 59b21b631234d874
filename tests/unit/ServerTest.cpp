#include "server/Server.h"

#include "FakePlatform.h"
#include "Modes.h"
#include "Out.h"
#include "PermissionReport.h"
#include "PipeReader.h"
#include "base/MainLoop.h"
#include "server/RequestReader.h"
#include "server/SystemCommands.h"

#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace tarvine;
using fakes::PipeReader;

namespace {

// The server with the system commands, writing to the process's output channel.
struct SystemServer {
    explicit SystemServer(std::size_t maxLineBytes = Server::defaultMaxLineBytes)
        : server(
              table(), Out::events(), [] { Out::flush(); }, maxLineBytes) {}

    const CommandTable& table() {
        system.registerIn(commands);
        return commands;
    }

    CommandTable commands;
    SystemCommands system;
    Server server;
};

// Runs requests through the server on the main loop and collects what it writes.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        channel = std::make_unique<OutputChannel>(pipe.writeEnd());
        pipe.start();
        Out::redirect(channel.get());
        MainLoop::context().restart();
    }
    void TearDown() override { Out::redirect(nullptr); }

    std::vector<Message> handle(std::vector<Message> requests) {
        for (auto& request : requests)
            MainLoop::spawn(served.server.handle(std::move(request)));
        MainLoop::context().run_for(std::chrono::seconds(5));
        MainLoop::context().restart();
        return written();
    }

    std::vector<Message> written() {
        channel->flush();
        channel.reset();
        std::vector<Message> out;
        for (const auto& line : pipe.finish())
            out.push_back(Message::parse(line));
        return out;
    }

    fakes::FakeIntegration* platform = nullptr;
    SystemServer served;
    PipeReader pipe;
    std::unique_ptr<OutputChannel> channel;
};

} // namespace

TEST_F(ServerTest, RepliesCarryTheRequestIdExactlyWhenItHadOne) {
    auto replies = handle({{{"id", 7}, {"cmd", "ping"}},
                           {{"cmd", "ping"}},
                           {{"id", nullptr}, {"cmd", "ping"}},
                           {{"id", {{"nested", true}}}, {"cmd", "ping"}}});
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], (Message{{"id", 7}, {"ok", true}}));
    EXPECT_EQ(replies[1], (Message{{"ok", true}}));
    EXPECT_EQ(replies[2], (Message{{"id", nullptr}, {"ok", true}}));
    EXPECT_EQ(replies[3]["id"], (Message{{"nested", true}}));
    for (const auto& reply : replies)
        EXPECT_FALSE(reply.contains("type"));
}

TEST_F(ServerTest, UnknownCommandsNamesMatchedExactly) {
    auto replies = handle({{{"id", "a"}, {"cmd", "nothing"}},
                           {{"id", 1}},
                           {{"id", 2}, {"cmd", "Ping"}},
                           {{"id", 3}, {"cmd", 5}},
                           {{"id", 4}, {"cmd", "ping "}}});
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0], (Message{{"id", "a"}, {"ok", false}, {"error", "unknown command"}}));
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_EQ(replies[i]["error"], "unknown command") << i;
}

TEST_F(ServerTest, PermissionsReportsExactlyFourMembersWithoutPrompting) {
    using Status = platform::Permissions::AuthorizationStatus;
    platform->fakePermissions.microphone = Status::notDetermined;
    platform->fakePermissions.screen = true;
    auto first = handle({{{"id", 1}, {"cmd", "permissions"}}});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], (Message{{"id", 1},
                                 {"ok", true},
                                 {"microphone", "not-determined"},
                                 {"screen", "granted"},
                                 {"inputMonitoring", "denied"},
                                 {"accessibility", "denied"}}));
}

TEST(PermissionReport, RestrictedAndDeniedMicrophonesReadDenied) {
    using Status = platform::Permissions::AuthorizationStatus;
    fakes::FakePermissions permissions;
    permissions.input = permissions.accessibility = true;
    for (auto [status, text] : {std::pair{Status::restricted, "denied"},
                                {Status::denied, "denied"},
                                {Status::authorized, "granted"}}) {
        permissions.microphone = status;
        Message report = permissionReport(permissions);
        EXPECT_EQ(report.size(), 4u);
        EXPECT_EQ(report["microphone"], text);
        EXPECT_EQ(report["inputMonitoring"], "granted");
        EXPECT_EQ(report["accessibility"], "granted");
    }
}

TEST(RequestMembers, WrongTypesTakeTheDefault) {
    Message body = {{"n", 5},
                    {"f", 3.0},
                    {"half", 2.5},
                    {"s", "x"},
                    {"b", true},
                    {"big", 18446744073709551615ull},
                    {"list", Message::array({{{"a", 1}}})}};
    Request request(body);
    EXPECT_EQ(request.integer("n", 1), 5);
    EXPECT_EQ(request.integer("f", 1), 3);
    EXPECT_EQ(request.integer("half", 1), 1);
    EXPECT_EQ(request.integer("s", 1), 1);
    EXPECT_EQ(request.integer("b", 1), 1);
    EXPECT_EQ(request.integer("big", 1), 1);
    EXPECT_EQ(request.integer("missing", 9), 9);
    EXPECT_EQ(request.boolean("b", false), true);
    EXPECT_EQ(request.boolean("n", false), false);
    EXPECT_EQ(request.string("s", "d"), "x");
    EXPECT_EQ(request.string("n", "d"), "d");
    EXPECT_EQ(request.objects("list").size(), 1u);
    EXPECT_TRUE(request.objects("s").empty());
}

namespace {

// Feeds raw bytes to the reader thread and runs the main loop until the server ends.
std::vector<Message> serve(const std::string& input,
                           std::size_t maxLineBytes = Server::defaultMaxLineBytes) {
    PipeReader output;
    output.start();
    std::vector<Message> replies;
    int status = -1;
    {
        OutputChannel channel(output.writeEnd());
        Out::redirect(&channel);
        MainLoop::context().restart();
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        std::thread writer([&] {
            std::size_t done = 0;
            while (done < input.size()) {
                ssize_t n = ::write(fds[1], input.data() + done, input.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fds[1]);
        });
        SystemServer served(maxLineBytes);
        Server& server = served.server;
        server.exitProcess = [&](int code) {
            status = code;
            MainLoop::context().stop();
        };
        server.run(fds[0]);
        // The loop must wait for the reader's jobs, as serve mode's does.
        auto guard = asio::make_work_guard(MainLoop::context());
        MainLoop::context().run_for(std::chrono::seconds(120));
        writer.join();
        ::close(fds[0]);
        Out::redirect(nullptr);
    }
    EXPECT_EQ(status, 0) << "the end of input ends the server with status 0";
    for (const auto& line : output.finish())
        replies.push_back(Message::parse(line));
    return replies;
}

} // namespace

TEST(ServerReader, IgnoresEverythingThatIsNotAJsonObject) {
    fakes::installFakePlatform();
    std::string input =
        "not json\n\n[1,2]\n\"text\"\n42\n{\"cmd\":\"ping\",\"id\":\"\xff\"}\n{bad\n";
    input += "{\"id\":1,\"cmd\":\"ping\"}\r\n";
    input += "{\"id\":2,\"pad\":\"" + std::string(10 << 20, 'y') + "\",\"cmd\":\"ping\"}\n";
    input += std::string(10 << 20, '[') + "\n";
    input += "{\"id\":4,\"a\":" + std::string(1 << 20, '[') + "\n";
    input += "{\"id\":3,\"cmd\":\"ping\"}"; // the last line needs no line feed
    auto replies = serve(input);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0]["id"], 1);
    EXPECT_EQ(replies[1]["id"], 2);
    EXPECT_EQ(replies[2]["id"], 3);
}

TEST(ServerReader, SkipsWholeLinesLongerThanItsLimitWhateverTheChunks) {
    std::vector<Message> read;
    RequestReader reader(32, [&](Message request) { read.push_back(std::move(request)); });
    const std::string longLine = "{\"id\":1,\"pad\":\"" + std::string(40, 'x') + "\"}\n";
    reader.feed(longLine.substr(0, 20));
    reader.feed(longLine.substr(20) + "{\"id\":2}\r\n{\"id\":");
    reader.feed("3}");
    reader.finish();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], (Message{{"id", 2}}));
    EXPECT_EQ(read[1], (Message{{"id", 3}}));

    auto replies = serve(std::string(100, ' ') + "\n{\"id\":4,\"cmd\":\"ping\"}\n", 64);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0]["id"], 4);
}

TEST(ServerReader, AnswersEveryOneOfThousandsOfPipelinedRequests) {
    fakes::installFakePlatform();
    std::string input;
    for (int i = 0; i < 5000; ++i)
        input += "{\"id\":" + std::to_string(i) + ",\"cmd\":\"ping\"}\n";
    input += "{\"id\":\"p\",\"cmd\":\"permissions\"}\n";
    auto replies = serve(input);
    ASSERT_EQ(replies.size(), 5001u);
    std::set<Message> ids;
    for (const auto& reply : replies)
        ids.insert(reply["id"]);
    EXPECT_EQ(ids.size(), 5001u);
    EXPECT_EQ(replies.back()["id"], "p") << "a reply still pending at the end of input is written";
}

TEST(SettingsWindow, TakesTheFrontmostNormalWindowNamedExactly) {
    using platform::WindowRecord;
    std::vector<WindowRecord> windows(5);
    windows[0].ownerName = "System Settings";
    windows[0].layer = 3; // a floating panel does not count
    windows[0].bounds = Rect{1, 1, 1, 1};
    windows[1].ownerName = "system settings";
    windows[1].layer = 0;
    windows[1].bounds = Rect{2, 2, 2, 2};
    windows[2].ownerName = "System Settings"; // no layer: no match
    windows[2].bounds = Rect{3, 3, 3, 3};
    windows[3].ownerName = "System Settings";
    windows[3].layer = 0;
    windows[3].bounds = Rect{10, 20, 800.5, 600};
    windows[4] = windows[3];
    windows[4].bounds = Rect{0, 0, 1, 1};
    auto bounds = Modes::settingsWindowBounds(windows);
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->dump(), R"({"Height":600,"Width":800.5,"X":10,"Y":20})");

    windows[3].bounds.reset();
    EXPECT_FALSE(Modes::settingsWindowBounds(windows)) << "a match without bounds finds nothing";
    EXPECT_FALSE(Modes::settingsWindowBounds({}));
}
