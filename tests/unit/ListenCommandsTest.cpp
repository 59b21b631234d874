#include "speech/ListenCommands.h"

#include "FakeAudio.h"
#include "FakePlatform.h"
#include "FakeSpeech.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "server/Server.h"
#include "speech/DictationCommands.h"
#include "speech/Transcriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvine;
using namespace std::chrono_literals;
using fakes::loop::await;
using fakes::loop::drain;
using fakes::loop::runUntil;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// Drives the listening and dictation commands on the older recognizer, whose fakes answer
// synchronously, and reads back everything the server wrote.
class ListenCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->audioEngineFactory = [this] {
            mics.push_back(std::make_shared<fakes::FakeAudioEngineState>());
            return std::make_unique<fakes::FakeAudioEngine>(mics.back());
        };
        platform->systemAudioFactory = [state = system] {
            return std::make_unique<fakes::FakeSystemAudioStream>(state);
        };
        platform->recognition = &recognition;
        drain();
    }

    void TearDown() override {
        if (auto t = listening.transcriber()) await(t->stop());
        if (auto d = dictating.state().dictation) await(d->stop());
        drain();
        platform->recognition = nullptr;
        platform->analysis = nullptr;
    }

    void send(Message request) { MainLoop::spawn(server.handle(std::move(request))); }

    std::optional<Message> replyTo(int id) {
        for (auto& message : output.messages())
            if (message.is_object() && message.value("id", -1) == id) return message;
        return std::nullopt;
    }

    Message awaitReply(int id) {
        EXPECT_TRUE(runUntil([&] { return replyTo(id).has_value(); })) << "no reply to " << id;
        return replyTo(id).value_or(Message{});
    }

    Message request(Message body) {
        int id = body["id"];
        send(std::move(body));
        return awaitReply(id);
    }

    // The replies and "stopped" events, in the order written.
    std::vector<Message> answers() {
        std::vector<Message> kept;
        for (auto& message : output.messages())
            if (message.contains("id") || message.value("type", "") == "stopped")
                kept.push_back(std::move(message));
        return kept;
    }

    std::vector<Message> ofType(const std::string& type) {
        std::vector<Message> kept;
        for (auto& message : output.messages())
            if (message.value("type", "") == type) kept.push_back(std::move(message));
        return kept;
    }

    const CommandTable& registered() {
        listening.registerIn(commands);
        dictating.registerIn(commands);
        return commands;
    }

    fakes::RecordingEvents output;
    CommandTable commands;
    ListenCommands listening{output};
    DictationCommands dictating{output};
    Server server{registered(), output, [] {}};
    fakes::FakeIntegration* platform = nullptr;
    std::vector<std::shared_ptr<fakes::FakeAudioEngineState>> mics;
    std::shared_ptr<fakes::FakeSystemAudioState> system =
        std::make_shared<fakes::FakeSystemAudioState>();
    fakes::FakeRecognition recognition;
    fakes::FakeAnalysis analysis; // installed by the tests that want the analyzer engine
};

const Message ok = {{"ok", true}};
const Message stoppedEvent = {{"type", "stopped"}};

Message withId(int id, Message body) {
    body["id"] = id;
    return body;
}

} // namespace

// --- Listening ---------------------------------------------------------------------------------

TEST_F(ListenCommandsTest, StopWithoutSessionRepliesThenReportsStopped) {
    request({{"id", 1}, {"cmd", "listen.stop"}});
    EXPECT_THAT(answers(), ElementsAre(withId(1, ok), stoppedEvent));
}

TEST_F(ListenCommandsTest, SecondStartStopsTheFirstBeforeOpeningAndBothAreAnswered) {
    EXPECT_EQ(request({{"id", 1}, {"cmd", "listen.start"}}), withId(1, ok));
    auto first = listening.transcriber();
    ASSERT_TRUE(first);
    ASSERT_EQ(recognition.tasks.size(), 2u);
    recognition.tasks[1]->partial("first words"); // the first session's microphone
    drain();
    output.clear();

    EXPECT_EQ(request({{"id", 2}, {"cmd", "listen.start"}, {"locale", "de-DE"}}), withId(2, ok));
    EXPECT_TRUE(first->stopped());
    ASSERT_TRUE(listening.transcriber());
    EXPECT_NE(listening.transcriber(), first);
    EXPECT_FALSE(listening.transcriber()->stopped());

    // What the first session still held is out before the second one starts opening.
    auto messages = output.messages();
    auto position = [&](const Message& wanted) {
        return std::find(messages.begin(), messages.end(), wanted) - messages.begin();
    };
    auto committed = position({{"type", "commit"}, {"speaker", "me"}, {"text", "first words"}});
    auto opening = position({{"type", "log"}, {"message", "listen: start locale=de-DE"}});
    EXPECT_LT(committed, opening);
    EXPECT_LT(opening, static_cast<long>(messages.size()));
}

TEST_F(ListenCommandsTest, StartFollowedAtOnceByStopLeavesNoSession) {
    send({{"id", 1}, {"cmd", "listen.start"}});
    send({{"id", 2}, {"cmd", "listen.stop"}});
    awaitReply(1);
    EXPECT_THAT(answers(), ElementsAre(withId(2, ok), stoppedEvent, withId(1, ok)));
    EXPECT_FALSE(listening.transcriber());
    ASSERT_EQ(mics.size(), 1u);
    EXPECT_FALSE(mics[0]->started);
    EXPECT_TRUE(recognition.tasks.empty());
}

TEST_F(ListenCommandsTest, CaptureThatFinishesStartingAfterTheStopIsReleased) {
    std::promise<void> serverAnswers;
    system->startGate = serverAnswers.get_future().share();
    send({{"id", 1}, {"cmd", "listen.start"}});
    bool waiting = runUntil([&] { return recognition.tasks.size() == 1; }); // at system audio
    auto session = listening.transcriber();
    send({{"id", 2}, {"cmd", "listen.stop"}});
    bool stopped = runUntil([&] { return replyTo(2).has_value(); });
    serverAnswers.set_value();
    ASSERT_TRUE(waiting && stopped);
    awaitReply(1);

    EXPECT_THAT(answers(), ElementsAre(withId(2, ok), stoppedEvent, withId(1, ok)));
    EXPECT_FALSE(listening.transcriber());
    ASSERT_TRUE(session);
    EXPECT_TRUE(session->stopped());
    EXPECT_EQ(system->stops, 1) << "the system audio stream started after the stop still runs";
    EXPECT_TRUE(recognition.tasks[0]->cancelled);
    EXPECT_EQ(recognition.tasks.size(), 1u);
    EXPECT_FALSE(mics[0]->started);
}

// --- Dictation ---------------------------------------------------------------------------------

TEST_F(ListenCommandsTest, DictationReturnsCommitsAndPendingPartialJoinedInOrder) {
    EXPECT_EQ(request({{"id", 1}, {"cmd", "dictate.start"}}), withId(1, ok));
    recognition.tasks.back()->final("Hello there.");
    drain();
    recognition.tasks.back()->final("Second one");
    drain();
    recognition.tasks.back()->partial("and more");
    drain();
    EXPECT_THAT(dictating.state().dictationText, ElementsAre("Hello there.", "Second one"));
    EXPECT_EQ(dictating.state().dictationPartial, "and more");

    EXPECT_EQ(request({{"id", 2}, {"cmd", "dictate.stop"}}),
              withId(2, {{"ok", true}, {"text", "Hello there. Second one and more"}}));
    EXPECT_FALSE(dictating.state().dictation);
    EXPECT_THAT(dictating.state().dictationText, IsEmpty());
    EXPECT_EQ(dictating.state().dictationPartial, "");
    EXPECT_THAT(ofType("partial"), IsEmpty()) << "dictation text stays with the server";
    EXPECT_THAT(ofType("commit"), IsEmpty());
}

TEST_F(ListenCommandsTest, DictationTextTrimsOnlyTheEndsAndCancelDiscardsEverything) {
    auto& state = dictating.state();
    state.dictationText = {" one ", "two"};
    state.dictationPartial = " three\n";
    EXPECT_EQ(request({{"id", 1}, {"cmd", "dictate.stop"}})["text"], "one  two  three");

    state.dictationText = {"a", "b"};
    state.dictationPartial = "c";
    EXPECT_EQ(request({{"id", 2}, {"cmd", "dictate.stop"}, {"cancel", true}})["text"], "");
    EXPECT_THAT(state.dictationText, IsEmpty());
    EXPECT_EQ(state.dictationPartial, "");
    EXPECT_EQ(request({{"id", 3}, {"cmd", "dictate.stop"}})["text"], "");
}

TEST_F(ListenCommandsTest, NewDictationDropsWhatTheOldOneCommittedWhileStopping) {
    EXPECT_EQ(request({{"id", 1}, {"cmd", "dictate.start"}}), withId(1, ok));
    auto old = dictating.state().dictation;
    recognition.tasks.back()->partial("old words");
    drain();
    EXPECT_EQ(request({{"id", 2}, {"cmd", "dictate.start"}}), withId(2, ok));
    ASSERT_TRUE(old);
    EXPECT_TRUE(old->stopped());
    EXPECT_NE(dictating.state().dictation, old);
    EXPECT_THAT(dictating.state().dictationText, IsEmpty());
    EXPECT_EQ(request({{"id", 3}, {"cmd", "dictate.stop"}})["text"], "");
}

// The analyzer engine gives the main loop back while a session stops, so a new dictation can
// start before the stopping one has collected its text.
TEST_F(ListenCommandsTest, DictationToggledOffAndOnAtOnceKeepsItsText) {
    platform->analysis = &analysis;
    EXPECT_EQ(request({{"id", 1}, {"cmd", "dictate.start"}}), withId(1, ok));
    analysis.deliver("Kept words.", true);
    ASSERT_TRUE(runUntil([this] { return dictating.state().dictationText.size() == 1; }));
    send({{"id", 2}, {"cmd", "dictate.stop"}});
    send({{"id", 3}, {"cmd", "dictate.stop"}});
    send({{"id", 4}, {"cmd", "dictate.start"}});
    EXPECT_EQ(awaitReply(2), withId(2, {{"ok", true}, {"text", "Kept words."}}));
    EXPECT_EQ(awaitReply(3), withId(3, {{"ok", true}, {"text", ""}}));
    EXPECT_EQ(awaitReply(4), withId(4, ok));
    EXPECT_EQ(request({{"id", 5}, {"cmd", "dictate.stop"}})["text"], "");
}

TEST_F(ListenCommandsTest, DictationLevelsAreThrottledToOneInSixtyMilliseconds) {
    EXPECT_EQ(request({{"id", 1}, {"cmd", "dictate.start"}}), withId(1, ok));
    ASSERT_EQ(mics.size(), 1u);
    auto speak = [&] {
        auto buffer = std::make_shared<PcmBuffer>(AudioFormat{48000, 1}, 256);
        buffer->setFrameLength(256);
        for (std::uint32_t i = 0; i < 256; ++i)
            buffer->floatChannelData(0)[i] = 0.05f;
        mics[0]->tap(buffer);
        drain();
    };
    speak();
    fakes::loop::advance(30ms);
    speak();
    fakes::loop::advance(31ms); // 61 ms after the last one sent
    speak();
    auto levels = ofType("dictation.level");
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_NEAR(levels[0]["level"].get<double>(), 0.4, 1e-5);
}

// --- End of input ------------------------------------------------------------------------------

TEST_F(ListenCommandsTest, EndOfInputStopsListeningBeforeTheEndAndLeavesDictation) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    auto write = [&](const std::string& line) {
        EXPECT_EQ(::write(fds[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    };
    auto exitProcess = server.exitProcess;
    int status = -1;
    bool listeningStopped = false;
    bool dictationStopped = true;
    server.exitProcess = [&](int code) {
        status = code;
        listeningStopped = listening.transcriber() && listening.transcriber()->stopped();
        auto dictation = dictating.state().dictation;
        dictationStopped = !dictation || dictation->stopped();
    };
    server.run(fds[0]);
    write(R"({"id":1,"cmd":"listen.start"})"
          "\n");
    awaitReply(1);
    if (recognition.tasks.size() == 2) recognition.tasks[1]->partial("last words");
    drain();
    write(R"({"id":2,"cmd":"dictate.start"})"
          "\n");
    ::close(fds[1]);
    bool ended = runUntil([&] { return status != -1; });
    server.exitProcess = exitProcess;
    ::close(fds[0]);
    ASSERT_TRUE(ended);

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(listeningStopped);
    EXPECT_FALSE(dictationStopped);
    auto messages = output.messages();
    auto reply = std::find(messages.begin(), messages.end(), withId(2, ok));
    auto commit = std::find(messages.begin(), messages.end(),
                            Message{{"type", "commit"}, {"speaker", "me"}, {"text", "last words"}});
    EXPECT_LT(reply, commit) << "the last reply, then what the listening session still held";
    EXPECT_NE(commit, messages.end());
}
