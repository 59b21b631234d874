#include "Out.h"

#include "PipeReader.h"

#include <csignal>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvine;
using fakes::PipeReader;

namespace {

Message partial(const std::string& text) {
    return {{"type", "partial"}, {"speaker", "me"}, {"text", text}};
}

// Blocks the writer: a line larger than the pipe can hold stays half written until the
// reader starts.
void blockWriter(OutputChannel& out) {
    out.emit({{"id", 0}, {"ok", true}, {"blob", std::string(1 << 20, 'x')}});
}

std::vector<Message> parse(const std::vector<std::string>& lines) {
    std::vector<Message> out;
    for (const auto& line : lines)
        out.push_back(Message::parse(line));
    return out;
}

} // namespace

TEST(Out, DisposableTypesAreExactlyTheThreeHighRateEvents) {
    EXPECT_TRUE(OutputChannel::isDisposable({{"type", "partial"}}));
    EXPECT_TRUE(OutputChannel::isDisposable({{"type", "dictation.level"}}));
    EXPECT_TRUE(OutputChannel::isDisposable({{"type", "log"}}));
    EXPECT_FALSE(OutputChannel::isDisposable({{"type", "commit"}}));
    EXPECT_FALSE(OutputChannel::isDisposable({{"type", "Partial"}}));
    EXPECT_FALSE(OutputChannel::isDisposable({{"type", 5}}));
    EXPECT_FALSE(OutputChannel::isDisposable({{"ok", true}}));
}

TEST(Out, DropsDisposableEventsFromTheTwoHundredFiftySixthPendingMessageOn) {
    PipeReader pipe;
    {
        OutputChannel out(pipe.writeEnd());
        blockWriter(out);
        for (int i = 1; i < 255; ++i)
            out.emit({{"id", i}, {"ok", true}});
        ASSERT_EQ(out.waiting(), 255);
        out.emit(partial("accepted at 255"));
        EXPECT_EQ(out.waiting(), 256);
        out.emit(partial("dropped at 256"));
        out.emit({{"type", "log"}, {"message", "dropped too"}});
        out.emit({{"type", "dictation.level"}, {"level", 0.5}});
        EXPECT_EQ(out.waiting(), 256);
        // Replies and other events are never dropped, however long the backlog.
        for (int i = 0; i < 10000; ++i)
            out.emit({{"type", "commit"}, {"speaker", "them"}, {"text", std::to_string(i)}});
        out.emit({{"type", 5}});
        out.emit({{"id", "last"}, {"ok", true}});
        EXPECT_EQ(out.waiting(), 256 + 10002);
        pipe.start();
        out.flush();
        EXPECT_EQ(out.waiting(), 0);
    }
    auto messages = parse(pipe.finish());
    ASSERT_EQ(messages.size(), 255u + 1 + 10002);
    EXPECT_EQ(messages[255]["text"], "accepted at 255");
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(messages[256 + i]["text"], std::to_string(i));
    EXPECT_EQ(messages[256 + 10000]["type"], 5);
    EXPECT_EQ(messages.back()["id"], "last");
}

TEST(Out, EveryLineIsOneCompactObjectWithOneLineFeed) {
    PipeReader pipe;
    pipe.start();
    {
        OutputChannel out(pipe.writeEnd());
        out.emit({{"type", "commit"}, {"text", "two\nlines\r\nand \"quotes\""}});
        out.emit({{"id", nullptr}, {"ok", false}, {"error", "x"}});
        // Invalid UTF-8 from the desktop must not cost the line.
        out.emit({{"type", "commit"}, {"text", std::string("caf\xC3", 4)}});
        out.flush();
    }
    std::string raw = (pipe.finish(), pipe.raw());
    EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 3);
    EXPECT_EQ(raw.back(), '\n');
    EXPECT_EQ(raw.find(": "), std::string::npos);
    EXPECT_EQ(raw.find(", "), std::string::npos);
    auto lines = parse(PipeReader::splitLines(raw));
    EXPECT_EQ(lines[0]["text"], "two\nlines\r\nand \"quotes\"");
    EXPECT_TRUE(lines[1]["id"].is_null());
    EXPECT_EQ(lines[2]["text"], "caf\xEF\xBF\xBD");
}

TEST(Out, LinesFromManyThreadsNeverInterleave) {
    PipeReader pipe;
    pipe.start();
    {
        OutputChannel out(pipe.writeEnd());
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&out, t] {
                for (int i = 0; i < 2000; ++i)
                    out.emit({{"type", "commit"},
                              {"thread", t},
                              {"seq", i},
                              {"text", std::string(100 + t, 'a' + t)}});
            });
        for (auto& thread : threads)
            thread.join();
        out.flush();
    }
    auto messages = parse(pipe.finish());
    ASSERT_EQ(messages.size(), 8000u);
    int next[4] = {0, 0, 0, 0};
    for (const auto& m : messages) {
        int t = m["thread"];
        ASSERT_EQ(m["seq"], next[t]++) << "one thread's lines keep their order";
    }
}

TEST(Out, AClosedReaderNeitherKillsNorBlocks) {
    std::signal(SIGPIPE, SIG_IGN);
    PipeReader pipe;
    pipe.closeReadEnd();
    OutputChannel out(pipe.writeEnd());
    for (int i = 0; i < 1000; ++i)
        out.emit({{"id", i}, {"ok", true}});
    out.flush();
    EXPECT_EQ(out.waiting(), 0);
}
