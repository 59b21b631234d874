#include "speech/SystemAudioCapture.h"

#include "FakeAudio.h"
#include "FakePlatform.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "base/HelperError.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvine;
using namespace std::chrono_literals;

namespace {

class SystemAudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->systemAudioFactory = [state = stream] {
            return std::make_unique<fakes::FakeSystemAudioStream>(state);
        };
        fakes::loop::drain();
        capture.setSink([this](const PcmBufferRef& buffer) {
            ++delivered;
            lastFrames = buffer->frameLength();
        });
    }

    // Runs start() on the main loop until it finishes; its exception, if any.
    std::exception_ptr start() {
        std::promise<std::exception_ptr> outcome;
        auto done = outcome.get_future();
        asio::co_spawn(MainLoop::context(), capture.start(),
                       [&](std::exception_ptr error) { outcome.set_value(error); });
        auto& loop = MainLoop::context();
        loop.restart();
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (done.wait_for(0s) != std::future_status::ready &&
               std::chrono::steady_clock::now() < deadline)
            loop.run_one_for(10ms);
        if (done.wait_for(0s) != std::future_status::ready) {
            ADD_FAILURE() << "start() did not finish";
            return nullptr;
        }
        return done.get();
    }

    // The pool releases a stopped stream in the background.
    bool waitDestroyed() {
        for (int i = 0; i < 500 && !stream->destroyed; ++i)
            std::this_thread::sleep_for(2ms);
        return stream->destroyed;
    }

    fakes::FakeIntegration* platform = nullptr;
    std::shared_ptr<fakes::FakeSystemAudioState> stream =
        std::make_shared<fakes::FakeSystemAudioState>();
    fakes::RecordingEvents logs;
    std::atomic<int> delivered{0};
    std::uint32_t lastFrames = 0;
    SystemAudioCapture capture{logs};
};

} // namespace

TEST_F(SystemAudioCaptureTest, StartFailuresPassThroughAndLeaveNoStream) {
    platform->systemAudioFactory = nullptr;
    auto error = start();
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const HelperError& helper) {
        EXPECT_STREQ(helper.what(), "No display");
    }
    EXPECT_FALSE(capture.capturing());

    platform->systemAudioFactory = [state = stream] {
        return std::make_unique<fakes::FakeSystemAudioStream>(state);
    };
    stream->startError = std::make_exception_ptr(PlatformError("PulseAudio", "Access denied"));
    error = start();
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const PlatformError& platformError) {
        EXPECT_EQ(platformError.description(), "PulseAudio: Access denied");
    }
    EXPECT_FALSE(capture.capturing());
    EXPECT_TRUE(waitDestroyed()) << "the refused stream was kept";
}

TEST_F(SystemAudioCaptureTest, DeliversNonEmptyBuffersToTheCurrentSink) {
    ASSERT_FALSE(start());
    EXPECT_TRUE(capture.capturing());
    stream->deliver(2048);
    stream->deliver(0);
    stream->deliver(17);
    EXPECT_EQ(delivered, 2);
    EXPECT_EQ(lastFrames, 17u);
    stream->output(nullptr); // a buffer the platform could not make
    EXPECT_EQ(delivered, 2);

    int replaced = 0;
    capture.setSink([&](const PcmBufferRef&) { ++replaced; });
    stream->deliver(5);
    EXPECT_EQ(replaced, 1);
    EXPECT_EQ(delivered, 2);
}

TEST_F(SystemAudioCaptureTest, StopBeforeStartOrTwiceOnlyClearsTheSink) {
    capture.stop();
    capture.stop();
    EXPECT_EQ(stream->starts, 0);
    EXPECT_EQ(stream->stops, 0);
    // The sink is gone: starting now captures into nothing.
    ASSERT_FALSE(start());
    stream->deliver(2048);
    EXPECT_EQ(delivered, 0);

    capture.stop();
    capture.stop();
    EXPECT_EQ(stream->stops, 1);
    EXPECT_FALSE(capture.capturing());
    EXPECT_TRUE(waitDestroyed());
}

TEST_F(SystemAudioCaptureTest, NothingReachesTheSinkOnceStopReturns) {
    ASSERT_FALSE(start());
    std::atomic<bool> quit{false};
    std::atomic<int> offered{0};
    std::thread platformThread([&] {
        for (; !quit; ++offered)
            stream->deliver(64);
    });
    while (delivered < 100)
        std::this_thread::yield();
    capture.stop();
    const int atStop = delivered;
    // The platform goes on delivering for a while after the stop.
    const int offeredAtStop = offered;
    while (offered < offeredAtStop + 100)
        std::this_thread::yield();
    quit = true;
    platformThread.join();
    EXPECT_EQ(delivered, atStop);
}

// A sound server that restarts ends the stream; capture comes back by itself, retrying once a
// second, and the owner hears when it gives up.
TEST_F(SystemAudioCaptureTest, StreamEndingByItselfIsStartedAgainOnceASecondUntilItGivesUp) {
    std::vector<std::string> givenUp;
    capture.onGiveUp = [&](const std::string& why) { givenUp.push_back(why); };
    ASSERT_FALSE(start());
    stream->fail("PulseAudio: Connection terminated");
    ASSERT_TRUE(fakes::loop::runUntil([&] { return capture.capturing() && stream->starts == 2; }));
    EXPECT_EQ(logs.take(),
              (std::vector<std::string>{"system audio stopped: PulseAudio: Connection terminated",
                                        "listen: system audio restarted"}));
    stream->deliver(10);
    EXPECT_EQ(delivered, 1) << "the new stream feeds the same sink";

    stream->startError = std::make_exception_ptr(PlatformError("PulseAudio", "Connection refused"));
    stream->fail("PulseAudio: Connection terminated");
    ASSERT_TRUE(fakes::loop::runUntil([&] { return capture.retries() == 1; }));
    EXPECT_FALSE(capture.capturing());
    for (int attempt = 2; attempt <= 11; ++attempt) {
        fakes::loop::advance(999ms);
        EXPECT_EQ(capture.retries(), attempt - 1) << "a retry came early";
        fakes::loop::advance(1ms);
        ASSERT_TRUE(fakes::loop::runUntil([&] { return capture.retries() == attempt; }));
    }
    fakes::loop::advance(5s);
    EXPECT_EQ(stream->starts, 2 + 11);
    auto lines = logs.take();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[1], "listen: system audio restart FAILED (1) PulseAudio: Connection refused");
    EXPECT_EQ(lines[11], "listen: system audio restart FAILED (11) PulseAudio: Connection refused");
    EXPECT_EQ(givenUp, std::vector<std::string>{"Connection refused"});
}

TEST_F(SystemAudioCaptureTest, StopEndsTheRetriesAndReleasesAStreamThatStartsLate) {
    ASSERT_FALSE(start());
    std::promise<void> release;
    stream->startGate = release.get_future().share();
    stream->fail("PulseAudio: Connection terminated");
    ASSERT_TRUE(fakes::loop::runUntil([&] { return stream->starts == 2; }));
    capture.stop();
    release.set_value();
    ASSERT_TRUE(fakes::loop::runUntil([&] { return stream->stops == 2; }))
        << "the stream that started after the stop was kept";
    fakes::loop::advance(5s);
    EXPECT_EQ(stream->starts, 2);
    EXPECT_FALSE(capture.capturing());
}

TEST_F(SystemAudioCaptureTest, StopWhileStartingLeavesAStreamForTheNextStop) {
    // The owner stops during the wait; the stream that then finishes starting delivers
    // nothing, and the owner's second stop releases it.
    std::promise<void> release;
    stream->startGate = release.get_future().share();
    std::exception_ptr outcome;
    bool finished = false;
    asio::co_spawn(MainLoop::context(), capture.start(), [&](std::exception_ptr error) {
        outcome = error;
        finished = true;
    });
    fakes::loop::drain();
    capture.stop();
    release.set_value();
    for (int i = 0; i < 500 && !finished; ++i)
        MainLoop::context().run_one_for(10ms);
    ASSERT_TRUE(finished);
    EXPECT_FALSE(outcome);
    stream->deliver(2048);
    EXPECT_EQ(delivered, 0);
    capture.stop();
    EXPECT_EQ(stream->stops, 1);
    EXPECT_TRUE(waitDestroyed());
}
