#include "speech/MicCapture.h"

#include "FakeAudio.h"
#include "FakePlatform.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "base/HelperError.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvine;
using namespace std::chrono_literals;

namespace {

const std::string noMicrophone = R"(HelperError(message: "No microphone."))";

class MicCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& platform = fakes::installFakePlatform();
        platform.audioEngineFactory = [state = engine] {
            return std::make_unique<fakes::FakeAudioEngine>(state);
        };
        fakes::loop::drain();
        capture = MicCapture::make(logs);
    }
    void TearDown() override {
        capture.reset();
        fakes::loop::drain();
    }

    void startCounting() {
        capture->start([this](const PcmBufferRef& buffer) {
            ++delivered;
            lastFrames = buffer->frameLength();
        });
    }

    // The restart that a configuration change causes.
    std::vector<std::string> changeAndRun() {
        engine->changeConfiguration();
        fakes::loop::drain();
        return logs.take();
    }

    std::shared_ptr<fakes::FakeAudioEngineState> engine =
        std::make_shared<fakes::FakeAudioEngineState>();
    fakes::RecordingEvents logs;
    std::shared_ptr<MicCapture> capture;
    int delivered = 0;
    std::uint32_t lastFrames = 0;
};

std::string failed(int count, const std::string& why = noMicrophone) {
    return "listen: mic restart FAILED (" + std::to_string(count) + ") " + why;
}

} // namespace

TEST_F(MicCaptureTest, TapsTheInputInItsOwnFormatAndFeedsTheSink) {
    engine->format = AudioFormat{44100, 2};
    startCounting();
    EXPECT_TRUE(capture->running());
    EXPECT_EQ(engine->calls,
              (std::vector<std::string>{"observe", "installTap", "prepare", "start"}));
    EXPECT_EQ(engine->tapBufferSize, 2048u);
    EXPECT_EQ(engine->tapFormat, (AudioFormat{44100, 2}));
    engine->deliver();
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(lastFrames, 2048u);
    EXPECT_TRUE(logs.take().empty());
}

TEST_F(MicCaptureTest, StartWithoutUsableInputThrowsNoMicrophoneAndLeavesCaptureIdle) {
    for (AudioFormat format : {AudioFormat{0, 1}, AudioFormat{48000, 0}, AudioFormat{-1, 1},
                               AudioFormat{std::numeric_limits<double>::quiet_NaN(), 1}}) {
        engine->format = format;
        engine->calls.clear();
        try {
            startCounting();
            ADD_FAILURE() << "started with " << format.description();
        } catch (const HelperError& error) {
            EXPECT_STREQ(error.what(), "No microphone.");
        }
        EXPECT_FALSE(capture->running());
        EXPECT_FALSE(engine->handler) << "still observing";
        EXPECT_EQ(engine->count("start"), 0);
        EXPECT_EQ(engine->count("removeTap"), 1);
        EXPECT_EQ(engine->count("stop"), 1);
    }

    fakes::installFakePlatform(); // no engine at all
    auto bare = MicCapture::make(logs);
    EXPECT_THROW(bare->start([](const PcmBufferRef&) {}), HelperError);
    EXPECT_FALSE(bare->running());
}

TEST_F(MicCaptureTest, EngineRefusalIsThrownUnchangedAndUndone) {
    engine->startError = std::make_exception_ptr(PlatformError("PulseAudio", "Access denied"));
    try {
        startCounting();
        FAIL() << "started";
    } catch (const PlatformError& error) {
        EXPECT_STREQ(error.what(), "Access denied");
        EXPECT_EQ(error.domain(), "PulseAudio");
    }
    EXPECT_FALSE(capture->running());
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"observe", "installTap", "prepare", "start",
                                                       "unobserve", "removeTap", "stop"}));
    // A failed start must not leave a notification path that restarts the capture.
    engine->startError = nullptr;
    EXPECT_TRUE(changeAndRun().empty());
    EXPECT_EQ(engine->count("start"), 1);
}

TEST_F(MicCaptureTest, StopIsANoOpUnlessRunningAndSilencesTheTap) {
    capture->stop();
    EXPECT_TRUE(engine->calls.empty()) << "stop before start touched the engine";

    startCounting();
    capture->stop();
    EXPECT_FALSE(capture->running());
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"observe", "installTap", "prepare", "start",
                                                       "unobserve", "removeTap", "stop"}));
    engine->deliver();
    EXPECT_EQ(delivered, 0);

    const auto before = engine->calls;
    capture->stop();
    EXPECT_EQ(engine->calls, before) << "second stop touched the engine";
}

TEST_F(MicCaptureTest, NotificationArrivingAfterStopChangesNothing) {
    startCounting();
    auto handler = engine->handler;
    engine->changeConfiguration(); // queued, runs only after stop
    capture->stop();
    MainLoop::post(handler);
    fakes::loop::drain();
    EXPECT_EQ(engine->count("start"), 1);
    EXPECT_TRUE(logs.take().empty());
}

TEST_F(MicCaptureTest, ConfigurationChangeRebuildsTapAndLogsTheNewFormat) {
    startCounting();
    engine->format = AudioFormat{16000, 1};
    EXPECT_EQ(changeAndRun(),
              (std::vector<std::string>{
                  "listen: mic restarted (<AudioFormat: 1 ch, 16000 Hz, Float32>)"}));
    EXPECT_EQ(engine->count("start"), 2);
    EXPECT_EQ(engine->tapFormat, (AudioFormat{16000, 1}));
    engine->deliver();
    EXPECT_EQ(delivered, 1) << "the rebuilt tap lost the sink";
}

TEST_F(MicCaptureTest, GivesUpAfterElevenFailuresOneSecondApart) {
    startCounting();
    engine->format = AudioFormat{};
    EXPECT_EQ(changeAndRun(), std::vector<std::string>{failed(1)});
    for (int count = 2; count <= 11; ++count) {
        fakes::loop::advance(900ms);
        EXPECT_TRUE(logs.take().empty()) << "retry " << count << " came early";
        fakes::loop::advance(100ms);
        EXPECT_EQ(logs.take(), std::vector<std::string>{failed(count)});
    }
    fakes::loop::advance(5s);
    EXPECT_TRUE(logs.take().empty()) << "kept retrying after giving up";
    EXPECT_TRUE(capture->running());
    EXPECT_FALSE(engine->started);

    // Still running, so a later change makes exactly one more attempt.
    EXPECT_EQ(changeAndRun(), std::vector<std::string>{failed(12)});
    fakes::loop::advance(5s);
    EXPECT_TRUE(logs.take().empty());
}

TEST_F(MicCaptureTest, SuccessResetsTheFailureCount) {
    startCounting();
    engine->format = AudioFormat{};
    changeAndRun();
    fakes::loop::advance(1s);
    EXPECT_EQ(logs.take(), std::vector<std::string>{failed(2)});
    engine->format = AudioFormat{48000, 1};
    fakes::loop::advance(1s);
    EXPECT_EQ(logs.take(), std::vector<std::string>{
                               "listen: mic restarted (<AudioFormat: 1 ch, 48000 Hz, Float32>)"});
    EXPECT_EQ(capture->retries(), 0);
    fakes::loop::advance(5s);
    EXPECT_TRUE(logs.take().empty()) << "a retry survived the success";

    engine->startError = std::make_exception_ptr(PlatformError("PulseAudio", "No such entity"));
    EXPECT_EQ(changeAndRun(), std::vector<std::string>{failed(1, "PulseAudio: No such entity")});
    EXPECT_FALSE(engine->tap) << "a failed restart left the tap installed";
}

TEST_F(MicCaptureTest, ChangeDuringPendingRetryReplacesIt) {
    startCounting();
    engine->format = AudioFormat{};
    changeAndRun();
    fakes::loop::advance(500ms);
    EXPECT_EQ(changeAndRun(), std::vector<std::string>{failed(2)});
    fakes::loop::advance(600ms);
    EXPECT_TRUE(logs.take().empty()) << "the replaced retry still ran";
    fakes::loop::advance(400ms);
    EXPECT_EQ(logs.take(), std::vector<std::string>{failed(3)});
}

TEST_F(MicCaptureTest, StopOrDropEndsPendingRetries) {
    startCounting();
    engine->format = AudioFormat{};
    changeAndRun();
    capture->stop();
    fakes::loop::advance(2s);
    EXPECT_TRUE(logs.take().empty());

    engine->format = AudioFormat{48000, 1};
    startCounting();
    engine->format = AudioFormat{};
    changeAndRun();
    capture.reset();
    EXPECT_TRUE(engine->destroyed);
    fakes::loop::advance(2s);
    EXPECT_TRUE(logs.take().empty());
}
