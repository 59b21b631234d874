#include "speech/SpeechStream.h"

#include "FakePlatform.h"
#include "FakeSpeech.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tarvine;
using namespace std::chrono_literals;
using fakes::loop::advance;
using fakes::loop::drain;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

class SpeechStreamTest : public testing::Test {
protected:
    void SetUp() override {
        fakes::installFakePlatform().recognition = &recognition;
        drain();
    }

    // A running stream with its first task, as the owner starts it; events start empty.
    std::shared_ptr<SpeechStream> open(const std::string& name = "Me") {
        auto stream = SpeechStream::make("en-US", name, output);
        stream->onPartial = [this](const std::string& text) {
            events.push_back("partial:" + text);
        };
        stream->onCommit = [this](const std::string& text) { events.push_back("commit:" + text); };
        stream->running = true;
        stream->rotate();
        events.clear();
        output.clear();
        return stream;
    }

    void stop(SpeechStream& stream) {
        stream.running = false;
        stream.rotate();
        stream.invalidateTimers();
    }

    fakes::FakeRecognitionTask& task() { return *recognition.tasks.back(); }

    fakes::RecordingEvents output;
    fakes::FakeRecognition recognition;
    std::vector<std::string> events;
};

PcmBuffer buffer(double rate, std::uint32_t channels, std::uint32_t frames) {
    PcmBuffer made({rate, channels, CommonFormat::pcmFloat32, false}, frames);
    made.setFrameLength(frames);
    return made;
}

} // namespace

TEST_F(SpeechStreamTest, CreationReportsTheRecognizer) {
    recognition.onDevice = false;
    auto them = SpeechStream::make("en-US", "Them", output);
    recognition.hasRecognizer = false;
    auto me = SpeechStream::make("xx-XX", "Me", output);
    EXPECT_THAT(output.logs(), ElementsAre("[Them] recognizer=true available=true onDevice=false",
                                           "[Me] recognizer=false available=false onDevice=false"));

    // Without a recognizer rotations only commit and clear.
    me->running = true;
    me->rotate();
    EXPECT_TRUE(recognition.tasks.empty());
}

TEST_F(SpeechStreamTest, FinalResultCommitsTrimmedTextAndStartsAFreshTask) {
    auto stream = open();
    auto first = recognition.tasks.back();
    first->final("  Hello there. \n");
    drain();

    EXPECT_THAT(events,
                ElementsAre("partial:  Hello there. \n", "commit:Hello there.", "partial:"));
    ASSERT_EQ(recognition.tasks.size(), 2u);
    EXPECT_TRUE(first->cancelled);
    EXPECT_TRUE(first->request->ended());
    const auto& options = task().request->options;
    EXPECT_TRUE(options.shouldReportPartialResults);
    EXPECT_TRUE(options.addsPunctuation);
    EXPECT_TRUE(options.requiresOnDeviceRecognition);

    recognition.onDevice = false;
    stream->rotate();
    EXPECT_FALSE(task().request->options.requiresOnDeviceRecognition);
}

TEST_F(SpeechStreamTest, SilenceAfterTheLatestPartialCommitsOnce) {
    auto stream = open();
    task().partial("hello");
    drain();
    advance(1300ms);
    task().partial("hello world ");
    drain();
    advance(1300ms); // 2.6 s after the first partial, 1.3 s after the latest
    EXPECT_THAT(events, ElementsAre("partial:hello", "partial:hello world "));

    advance(200ms);
    EXPECT_THAT(events, ElementsAre("partial:hello", "partial:hello world ", "commit:hello world",
                                    "partial:"));
    EXPECT_EQ(recognition.tasks.size(), 2u);
    advance(3s);
    EXPECT_EQ(events.size(), 4u);
}

TEST_F(SpeechStreamTest, BlankPartialsCommitNothing) {
    auto stream = open();
    task().partial(""); // changes nothing: no callback, no timer
    drain();
    advance(1500ms);
    EXPECT_THAT(events, IsEmpty());

    task().partial("   ");
    drain();
    advance(1500ms);
    EXPECT_THAT(events, ElementsAre("partial:   ", "partial:"));
    EXPECT_EQ(recognition.tasks.size(), 2u);
}

TEST_F(SpeechStreamTest, TaskIsReplacedAfterFortyFiveSeconds) {
    auto stream = open();
    advance(44900ms);
    EXPECT_EQ(recognition.tasks.size(), 1u);
    advance(200ms);
    ASSERT_EQ(recognition.tasks.size(), 2u);
    EXPECT_TRUE(recognition.tasks[0]->cancelled);
    EXPECT_THAT(events, ElementsAre("partial:"));
    // The new task has a timer of its own.
    advance(45s);
    EXPECT_EQ(recognition.tasks.size(), 3u);
}

TEST_F(SpeechStreamTest, FailedTaskIsRetriedAfterOneSecond) {
    auto stream = open();
    task().fail("kAFAssistantErrorDomain", 1110, "No speech detected");
    drain();
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] task error: kAFAssistantErrorDomain 1110 No speech detected"));
    advance(900ms);
    EXPECT_EQ(recognition.tasks.size(), 1u);
    advance(200ms);
    EXPECT_EQ(recognition.tasks.size(), 2u);
}

TEST_F(SpeechStreamTest, RetryOnlyFollowsAFailureWithoutResultWhileNothingChanged) {
    auto withResult = open("With");
    task().handler(platform::RecognitionResult{"", false}, platform::RecognitionError{"d", 2, "x"});
    drain();
    advance(1100ms);
    EXPECT_EQ(recognition.tasks.size(), 1u);

    auto rotated = open();
    task().fail("d", 1, "x");
    drain();
    rotated->rotate();
    advance(1100ms);
    EXPECT_EQ(recognition.tasks.size(), 3u);

    auto stopped = open("Them");
    const auto before = recognition.tasks.size();
    task().fail("d", 1, "x");
    drain();
    stop(*stopped);
    advance(1100ms);
    EXPECT_EQ(recognition.tasks.size(), before);
}

TEST_F(SpeechStreamTest, LateCallbacksOfAnEndedTaskAreIgnored) {
    auto stream = open();
    auto old = recognition.tasks.back();
    stream->rotate();
    events.clear();
    output.clear();

    old->partial("late words");
    old->fail("d", 1, "late failure");
    old->final("late final");
    drain();
    advance(1500ms);

    EXPECT_THAT(events, IsEmpty());
    EXPECT_THAT(output.logs(), IsEmpty());
    EXPECT_EQ(recognition.tasks.size(), 2u);
}

TEST_F(SpeechStreamTest, GotSpeechIsLoggedOncePerUtterance) {
    auto stream = open();
    task().partial("h\xC3\xA9llo"); // é is one character in two bytes
    task().partial("h\xC3\xA9llo there");
    task().final("h\xC3\xA9llo there");
    drain();
    task().partial("e\xCC\x81 \xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"); // e + accent, a flag
    drain();
    EXPECT_THAT(output.logsContaining("got speech"),
                ElementsAre("[Me] got speech (5 chars)", "[Me] got speech (3 chars)"));
}

TEST_F(SpeechStreamTest, StopCommitsWhatIsPendingAndStartsNothing) {
    auto pending = open();
    task().partial(" last words ");
    drain();
    events.clear();
    stop(*pending);
    EXPECT_THAT(events, ElementsAre("commit:last words", "partial:"));
    EXPECT_EQ(recognition.tasks.size(), 1u);
    EXPECT_TRUE(task().cancelled);

    auto idle = open("Them");
    stop(*idle);
    EXPECT_THAT(events, ElementsAre("partial:"));
    advance(50s);
    EXPECT_EQ(recognition.tasks.size(), 2u);
}

TEST_F(SpeechStreamTest, DroppingTheStreamEndsItsTask) {
    auto stream = open();
    auto current = recognition.tasks.back();
    stream.reset();
    EXPECT_TRUE(current->cancelled);
    EXPECT_TRUE(current->request->ended());
    current->partial("after the end");
    drain();
    EXPECT_THAT(events, IsEmpty());
}

TEST_F(SpeechStreamTest, RequestThatCannotBeMadeIsRetried) {
    auto stream = open();
    recognition.requestError = std::make_exception_ptr(PlatformError("Speech", "busy"));
    stream->rotate();
    EXPECT_THAT(output.logs(), ElementsAre("[Me] task error: Speech: busy"));
    recognition.requestError = nullptr;
    advance(1100ms);
    EXPECT_EQ(recognition.tasks.size(), 2u);
}

TEST_F(SpeechStreamTest, PausedAndUnrequestedBuffersAreCountedButNotForwarded) {
    auto stream = open();
    auto& box = stream->requestBox;
    const PcmBuffer audio = buffer(48000, 1, 480);
    box.append(audio);
    {
        std::lock_guard guard(box.lock);
        box._paused = true;
    }
    box.append(audio);
    box.append(audio);
    EXPECT_EQ(task().request->buffers(), 1);

    stop(*stream);
    {
        std::lock_guard guard(box.lock);
        box._paused = false;
    }
    box.append(audio);
    EXPECT_EQ(box.count, 4);
    EXPECT_EQ(task().request->buffers(), 1);
}

TEST_F(SpeechStreamTest, BufferLogComesWithTheFirstAndEveryFiveHundredthBuffer) {
    RequestBox box(output);
    const PcmBuffer odd = buffer(44100.5, 2, 512);
    const PcmBuffer whole = buffer(48000, 1, 480);
    box.append(odd);
    for (int i = 2; i <= 1000; ++i)
        box.append(whole);
    EXPECT_THAT(output.logs(),
                ElementsAre("audio buffers=1 fmt=44100.5Hz ch=2 frames=512 hasRequest=false",
                            "audio buffers=500 fmt=48000.0Hz ch=1 frames=480 hasRequest=false",
                            "audio buffers=1000 fmt=48000.0Hz ch=1 frames=480 hasRequest=false"));

    auto stream = open();
    stream->requestBox.append(std::make_shared<const PcmBuffer>(whole));
    EXPECT_THAT(output.logs(),
                ElementsAre("audio buffers=1 fmt=48000.0Hz ch=1 frames=480 hasRequest=true"));
}
