#include "speech/Transcriber.h"

#include "FakeAudio.h"
#include "FakePlatform.h"
#include "FakeSpeech.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "base/HelperError.h"

#include <cmath>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvine;
using namespace std::chrono_literals;
using fakes::loop::await;
using fakes::loop::drain;
using fakes::loop::runUntil;
using testing::ElementsAre;
using testing::FloatNear;
using testing::IsEmpty;

namespace {

const std::string micDeniedSystemOnly =
    "Microphone permission denied — only system audio will be transcribed.";
const std::string micDenied =
    "Microphone permission denied. Enable it in System Settings ▸ Privacy & Security.";

// A mono float buffer whose every sample is `sample`.
PcmBufferRef samples(std::uint32_t frames, float sample, std::uint32_t channels = 1) {
    auto made = std::make_shared<PcmBuffer>(AudioFormat{48000, channels}, frames);
    made->setFrameLength(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        made->floatChannelData(0)[i] = sample;
    return made;
}

class TranscriberTest : public testing::Test {
protected:
    void SetUp() override {
        platform = &fakes::installFakePlatform();
        platform->audioEngineFactory = [state = mic] {
            return std::make_unique<fakes::FakeAudioEngine>(state);
        };
        platform->systemAudioFactory = [state = system] {
            return std::make_unique<fakes::FakeSystemAudioStream>(state);
        };
        platform->recognition = &recognition;
        platform->analysis = &analysis;
        drain();
    }

    void TearDown() override {
        if (session) await(session->stop());
        session.reset();
        unsetenv("TARVINE_SPEECH_ENGINE");
        platform->recognition = nullptr;
        platform->analysis = nullptr;
        drain();
    }

    // A session on the analyzer engine or the older recognizer, recording what it reports.
    std::shared_ptr<Transcriber> make(bool analyzer, bool includeSystem) {
        if (analyzer)
            unsetenv("TARVINE_SPEECH_ENGINE");
        else
            setenv("TARVINE_SPEECH_ENGINE", "recognizer", 1);
        if (session) await(session->stop());
        session = Transcriber::make("en-US", includeSystem, output);
        session->onPartial = [this](Speaker speaker, const std::string& text) {
            events.push_back("partial:" + std::string(rawValue(speaker)) + ":" + text);
        };
        session->onCommit = [this](Speaker speaker, const std::string& text) {
            events.push_back("commit:" + std::string(rawValue(speaker)) + ":" + text);
        };
        session->onError = [this](const std::string& message) { errors.push_back(message); };
        session->onLevel = [this](float level) { levels.push_back(level); };
        return session;
    }

    // What open() threw; empty when it returned.
    std::string openError() {
        try {
            await(session->open());
        } catch (const HelperError& error) {
            return error.what();
        }
        return "";
    }

    fakes::RecordingEvents output;
    fakes::FakeIntegration* platform = nullptr;
    std::shared_ptr<fakes::FakeAudioEngineState> mic =
        std::make_shared<fakes::FakeAudioEngineState>();
    std::shared_ptr<fakes::FakeSystemAudioState> system =
        std::make_shared<fakes::FakeSystemAudioState>();
    fakes::FakeRecognition recognition;
    fakes::FakeAnalysis analysis;
    std::shared_ptr<Transcriber> session;
    std::vector<std::string> events;
    std::vector<std::string> errors;
    std::vector<float> levels;
};

} // namespace

TEST_F(TranscriberTest, MicLevelIsScaledRmsOfChannelZeroAndEveryBufferReachesTheEngine) {
    make(false, false);
    await(session->open());
    ASSERT_TRUE(mic->tap);
    ASSERT_EQ(recognition.tasks.size(), 1u);

    mic->tap(samples(2048, 0));
    mic->tap(samples(2048, 0.05f));
    mic->tap(samples(2048, 0.125f));
    mic->tap(samples(16, std::numeric_limits<float>::quiet_NaN()));
    auto stereo = std::make_shared<PcmBuffer>(AudioFormat{48000, 2}, 64);
    stereo->setFrameLength(64);
    for (std::uint32_t i = 0; i < 64; ++i)
        stereo->floatChannelData(1)[i] = 1; // only channel 0 is measured
    mic->tap(stereo);
    // No level can be measured from these, but the engine still hears them.
    auto integers =
        std::make_shared<PcmBuffer>(AudioFormat{48000, 1, CommonFormat::pcmInt16, false}, 64);
    integers->setFrameLength(64);
    mic->tap(integers);
    mic->tap(samples(0, 0.5f));

    EXPECT_THAT(levels, ElementsAre(0.0f, FloatNear(0.4f, 1e-5f), 1.0f, 1.0f, 0.0f));
    EXPECT_EQ(recognition.tasks[0]->request->buffers(), 7);
}

TEST_F(TranscriberTest, DeniedMicrophoneWithSystemAudioTranscribesTheOtherSideOnly) {
    platform->fakePermissions.microphoneAccess = false;
    make(true, true);
    EXPECT_EQ(openError(), "");
    EXPECT_THAT(errors, ElementsAre(micDeniedSystemOnly));
    EXPECT_EQ(system->starts, 1);
    EXPECT_TRUE(system->output);
    EXPECT_TRUE(mic->calls.empty());
    EXPECT_EQ(analysis.analyzersMade, 1);
    EXPECT_THAT(output.logsContaining("listen: "),
                ElementsAre("listen: start locale=en-US", "listen: micAllowed=false",
                            "listen: system audio started"));

    // The older engine says nothing about it.
    make(false, true);
    EXPECT_EQ(openError(), "");
    EXPECT_THAT(errors, ElementsAre(micDeniedSystemOnly));
    EXPECT_EQ(system->starts, 2);
    EXPECT_EQ(recognition.tasks.size(), 1u);
}

TEST_F(TranscriberTest, SystemAudioFailingWithMicrophoneDeniedGivesBothMessagesInOrder) {
    platform->fakePermissions.microphoneAccess = false;
    system->startError = std::make_exception_ptr(PlatformError("SCStreamErrorDomain", "declined"));
    make(true, true);
    EXPECT_EQ(openError(), "");
    EXPECT_THAT(errors,
                ElementsAre("System audio unavailable (grant Screen & System Audio Recording): "
                            "declined",
                            micDeniedSystemOnly));
    EXPECT_THAT(output.logsContaining("listen: system audio FAILED "), testing::SizeIs(1));
    EXPECT_TRUE(mic->calls.empty());
}

TEST_F(TranscriberTest, OpenThrowsWhenNothingCouldBeTranscribed) {
    platform->fakePermissions.microphoneAccess = false;
    make(true, false);
    EXPECT_EQ(openError(), micDenied);
    EXPECT_EQ(analysis.analyzersMade, 0);

    // The older engine refuses a microphone-only session without a microphone the same way,
    // rather than answering a dictation that can never hear anything with success.
    make(false, false);
    EXPECT_EQ(openError(), micDenied);
    EXPECT_TRUE(recognition.tasks.empty());

    platform->fakePermissions.microphoneAccess = true;
    recognition.authorized = false;
    make(false, true);
    EXPECT_EQ(openError(), "Speech Recognition permission denied. Enable it in System Settings ▸ "
                           "Privacy & Security.");
    EXPECT_TRUE(recognition.tasks.empty());
    EXPECT_EQ(system->starts, 0);
    EXPECT_THAT(errors, IsEmpty());
}

TEST_F(TranscriberTest, StopDuringTheMicrophoneRequestEndsOpeningBeforeAnyStream) {
    recognition.authorized = false; // asking for it would make open() throw
    for (bool analyzer : {true, false}) {
        SCOPED_TRACE(analyzer ? "analyzer" : "recognizer");
        std::promise<void> answer;
        platform->fakePermissions.microphoneGate = answer.get_future().share();
        make(analyzer, true);
        auto opening = asio::co_spawn(MainLoop::context(), session->open(), asio::use_future);
        drain();
        await(session->stop());
        answer.set_value();
        ASSERT_TRUE(runUntil([&] { return opening.wait_for(0s) == std::future_status::ready; }));
        EXPECT_NO_THROW(opening.get());
        EXPECT_THAT(output.logs(),
                    ElementsAre("listen: start locale=en-US", "listen: micAllowed=true"));
        output.clear();
    }
    platform->fakePermissions.microphoneGate = {};
    EXPECT_EQ(analysis.analyzersMade, 0);
    EXPECT_TRUE(recognition.tasks.empty());
    EXPECT_EQ(system->starts, 0);
    EXPECT_TRUE(mic->calls.empty());
    EXPECT_THAT(errors, IsEmpty());
}

TEST_F(TranscriberTest, OlderEnginePauseAndStopCommitWhatIsPendingMeFirst) {
    make(false, true);
    await(session->open());
    ASSERT_EQ(recognition.tasks.size(), 2u); // them, then me
    recognition.tasks[0]->partial("their words");
    recognition.tasks[1]->partial("my words");
    drain();
    events.clear();

    session->setPaused(true);
    EXPECT_THAT(events, ElementsAre("commit:me:my words", "partial:me:", "commit:them:their words",
                                    "partial:them:"));
    ASSERT_EQ(recognition.tasks.size(), 4u); // me, then them
    mic->deliver();
    EXPECT_EQ(recognition.tasks[2]->request->buffers(), 0) << "paused engines drop the audio";

    events.clear();
    session->setPaused(false);
    EXPECT_THAT(events, IsEmpty());
    mic->deliver();
    EXPECT_EQ(recognition.tasks[2]->request->buffers(), 1);

    recognition.tasks[3]->partial("later them");
    recognition.tasks[2]->partial("later me");
    drain();
    events.clear();
    await(session->stop());
    EXPECT_THAT(events, ElementsAre("commit:me:later me", "partial:me:", "commit:them:later them",
                                    "partial:them:"));
    EXPECT_TRUE(session->stopped());
    EXPECT_FALSE(mic->started);
    EXPECT_EQ(system->stops, 1);

    events.clear();
    output.clear();
    await(session->stop());
    EXPECT_THAT(events, IsEmpty());
    EXPECT_EQ(recognition.tasks.size(), 4u);
    EXPECT_EQ(system->stops, 1);
    EXPECT_THAT(output.logs(), IsEmpty());
}

// A stopped session may still be held (by a reply in flight, a callback); its engines, which
// hold the speech models, must be gone by the time stop() returns.
TEST_F(TranscriberTest, StopReleasesTheEnginesOfBothChannelsOnEitherEngine) {
    for (bool analyzer : {true, false}) {
        SCOPED_TRACE(analyzer ? "analyzer" : "recognizer");
        make(analyzer, true);
        await(session->open());
        EXPECT_EQ(analyzer ? analysis.analyzersAlive.load() : recognition.recognizersAlive.load(),
                  2);
        await(session->stop());
        EXPECT_EQ(analysis.analyzersAlive, 0);
        EXPECT_EQ(recognition.recognizersAlive, 0);
    }
}
