#include "speech/AnalyzerStream.h"

#include "FakePlatform.h"
#include "FakeSpeech.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"

#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <thread>
#include <unistd.h>

using namespace tarvine;
using fakes::loop::await;
using fakes::loop::runUntil;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const AudioFormat target{16000, 1, CommonFormat::pcmFloat32, false};
const AudioFormat mic48k{48000, 1, CommonFormat::pcmFloat32, false};
const AudioFormat mic44k{44100, 1, CommonFormat::pcmFloat32, false};

// A buffer whose channel 0 holds `level` in its first sample and silence elsewhere.
PcmBufferRef audio(const AudioFormat& format, std::uint32_t frames, float level = 0) {
    auto made = std::make_shared<PcmBuffer>(format, frames);
    made->setFrameLength(frames);
    if (frames > 0 && made->floatChannelData(0)) made->floatChannelData(0)[0] = level;
    return made;
}

class AnalyzerStreamTest : public testing::Test {
protected:
    void SetUp() override {
        fakes::installFakePlatform().analysis = &analysis;
        fakes::loop::drain();
    }

    void TearDown() override {
        if (stream) await(stream->finish());
    }

    std::shared_ptr<AnalyzerStream> make(bool live = true, const std::string& name = "Me") {
        stream = AnalyzerStream::make("en-US", name, live, output);
        stream->onPartial = [this](const std::string& text) {
            EXPECT_TRUE(MainLoop::onMainThread());
            events.push_back("partial:" + text);
        };
        stream->onCommit = [this](const std::string& text) { events.push_back("commit:" + text); };
        stream->onFailure = [this](std::exception_ptr error) {
            events.push_back("failure:" + errorMessage(error));
        };
        return stream;
    }

    std::shared_ptr<AnalyzerStream> started(bool live = true) {
        make(live);
        await(stream->start());
        output.clear();
        return stream;
    }

    void waitForEvents(std::size_t count) {
        EXPECT_TRUE(runUntil([&] { return events.size() >= count; })) << events.size();
    }

    void finish() {
        await(stream->finish());
        stream = nullptr;
    }

    fakes::RecordingEvents output;
    fakes::FakeAnalysis analysis;
    std::shared_ptr<AnalyzerStream> stream;
    std::vector<std::string> events;
};

} // namespace

// --- Start -------------------------------------------------------------------------------------

TEST_F(AnalyzerStreamTest, UnsupportedLocaleNamesTheRequestedOne) {
    analysis.supported = std::nullopt;
    stream = AnalyzerStream::make("xx-YY", "Me", true, output);
    try {
        await(stream->start());
        FAIL() << "start succeeded";
    } catch (const HelperError& error) {
        EXPECT_STREQ(error.what(), "Transcription isn't available for xx-YY on this Mac.");
    }
    EXPECT_EQ(analysis.requested(), "xx-YY");
    EXPECT_EQ(analysis.analyzersMade, 0);
    EXPECT_THAT(output.logs(), IsEmpty());
}

TEST_F(AnalyzerStreamTest, StartInstallsTheModelWhenNeededAndLogsTheFormat) {
    analysis.supported = "en-GB";
    analysis.needsInstall = true;
    make();
    await(stream->start());
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] downloading speech model for en-GB\u2026",
                            "[Me] speech model installed",
                            "[Me] analyzer started locale=en-GB format=" + target.description()));
    finish();

    analysis.needsInstall = false;
    analysis.bestFormat = std::nullopt;
    output.clear();
    make();
    await(stream->start());
    EXPECT_THAT(output.logs(), ElementsAre("[Me] analyzer started locale=en-GB format=nil"));
    finish();

    // A failed download is thrown unchanged, with no further line.
    analysis.needsInstall = true;
    analysis.installError = std::make_exception_ptr(PlatformError("Assets", "offline"));
    output.clear();
    make();
    EXPECT_THROW(await(stream->start()), PlatformError);
    EXPECT_THAT(output.logs(), ElementsAre("[Me] downloading speech model for en-GB\u2026"));
    EXPECT_EQ(analysis.analyzersMade, 2);
}

TEST_F(AnalyzerStreamTest, AnalyzerThatDoesNotStartEndsInputAndRethrows) {
    analysis.startError = std::make_exception_ptr(PlatformError("Analyzer", "no start"));
    make();
    EXPECT_THROW(await(stream->start()), PlatformError);
    EXPECT_EQ(analysis.cancels, 1);
    EXPECT_TRUE(analysis.input()->ended());
    EXPECT_TRUE(analysis.results()->ended());

    stream->append(audio(target, 160));
    EXPECT_THAT(analysis.received(), IsEmpty());
    output.clear();
    finish();
    EXPECT_EQ(analysis.finalizes, 0);
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finished (volatile results: 0)"));
}

// --- Results -----------------------------------------------------------------------------------

TEST_F(AnalyzerStreamTest, FinalSegmentsAreTrimmedCountedAndCommitted) {
    started();
    analysis.deliver("  one  two three \n", true);
    analysis.deliver("one\ttwo", true);
    analysis.deliver(" \n ", true);
    waitForEvents(5);
    EXPECT_THAT(events, ElementsAre("partial:", "commit:one  two three",
                                    "partial:", "commit:one\ttwo", "partial:"));
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] final segment (3 words)", "[Me] final segment (1 words)"));
}

TEST_F(AnalyzerStreamTest, VolatileResultsAreLoggedAtTheFirstAndEveryFiftieth) {
    started();
    for (int i = 1; i <= 100; ++i)
        analysis.deliver(i == 2 ? "" : " caf\xC3\xA9 " + std::to_string(i), false);
    waitForEvents(100);
    EXPECT_EQ(events[0], "partial:caf\xC3\xA9 1");
    EXPECT_EQ(events[1], "partial:"); // empty volatile text is passed on
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] volatile #1 (6 chars)", "[Me] volatile #50 (7 chars)",
                            "[Me] volatile #100 (8 chars)"));
    output.clear();
    finish();
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finished (volatile results: 100)"));
}

TEST_F(AnalyzerStreamTest, ResultsErrorWhileInputIsOpenIsReportedOnce) {
    started();
    analysis.failResults("decoder died");
    waitForEvents(1);
    EXPECT_THAT(events, ElementsAre("failure:decoder died"));
    EXPECT_THAT(output.logs(), ElementsAre("[Me] results error: FakeAnalyzer: decoder died"));
    EXPECT_TRUE(analysis.input()->ended());
    output.clear();
    finish();
    EXPECT_EQ(analysis.finalizes, 1);
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finished (volatile results: 0)"));
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(AnalyzerStreamTest, ResultsErrorAfterTheResultsWereCancelledIsStillLogged) {
    started();
    // The stream is dropped (which cancels its results) while a result is being handed over;
    // the engine fails its results meanwhile.
    stream->onPartial = [this](const std::string&) {
        analysis.failResults("decoder died");
        stream.reset();
    };
    analysis.deliver("last words", false);
    ASSERT_TRUE(runUntil([&] { return !output.logsContaining("results error").empty(); }));
    EXPECT_THAT(output.logsContaining("results error"),
                ElementsAre("[Me] results error: FakeAnalyzer: decoder died"));
    EXPECT_THAT(events, IsEmpty()) << "a cancelled stream reports no failure";
}

TEST_F(AnalyzerStreamTest, ResultsErrorAfterFinishBeganIsOnlyLogged) {
    analysis.resultsErrorOnFinalize =
        std::make_exception_ptr(PlatformError("FakeAnalyzer", "late failure"));
    started();
    finish();
    EXPECT_THAT(events, IsEmpty());
    EXPECT_THAT(output.logs(), ElementsAre("[Me] results error: FakeAnalyzer: late failure",
                                           "[Me] finished (volatile results: 0)"));
}

TEST_F(AnalyzerStreamTest, FinalizeErrorCancelsAndStillFinishes) {
    analysis.finalizeError = std::make_exception_ptr(PlatformError("Analyzer", "stuck"));
    started();
    finish();
    EXPECT_EQ(analysis.cancels, 1);
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finalize error: Analyzer: stuck",
                                           "[Me] finished (volatile results: 0)"));
}

TEST_F(AnalyzerStreamTest, FinishDeliversEverythingBeforeReturningAndOnlyOnce) {
    started();
    analysis.deliver("last words", true);
    await(stream->finish());
    EXPECT_THAT(events, ElementsAre("partial:", "commit:last words"));
    EXPECT_EQ(analysis.finalizes, 1);

    output.clear();
    finish();
    EXPECT_EQ(analysis.finalizes, 1);
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finished (volatile results: 0)"));

    make(); // never started
    finish();
    EXPECT_THAT(output.logs(), ElementsAre("[Me] finished (volatile results: 0)",
                                           "[Me] finished (volatile results: 0)"));
}

TEST_F(AnalyzerStreamTest, DroppedStreamReleasesItsResultsReader) {
    started();
    auto results = analysis.results();
    stream = nullptr;
    EXPECT_TRUE(results->ended());
    EXPECT_TRUE(analysis.input()->ended());
}

// --- Append ------------------------------------------------------------------------------------

TEST_F(AnalyzerStreamTest, AudioBeforeStartIsNeitherCountedNorForwarded) {
    make();
    stream->append(audio(mic48k, 480));
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] append #1 builder=false paused=false fmt=48000.0/1"));
    await(stream->start());
    // Exactly ten seconds after start: the early buffer did not count.
    stream->append(audio(target, 160000));
    EXPECT_THAT(output.logsContaining("audio in"), IsEmpty());
    EXPECT_EQ(analysis.received().size(), 1u);
}

TEST_F(AnalyzerStreamTest, PausedAudioIsNeitherCountedNorForwarded) {
    started();
    {
        std::lock_guard guard(stream->lock);
        stream->paused = true;
    }
    const AudioFormat int16{22050.5, 1, CommonFormat::pcmInt16, false};
    stream->append(audio(int16, 441000));
    {
        std::lock_guard guard(stream->lock);
        stream->paused = false;
    }
    stream->append(audio(target, 160000));
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] append #1 builder=true paused=true fmt=22050.5/3"));
    EXPECT_EQ(analysis.received().size(), 1u);
}

TEST_F(AnalyzerStreamTest, AudioInLineFollowsTenSecondsOfInput) {
    started();
    stream->append(audio(target, 80000, -0.5f));
    stream->append(audio(target, 80000, 0.25f)); // exactly 10 x rate: not yet
    EXPECT_THAT(output.logsContaining("audio in"), IsEmpty());
    stream->append(audio(target, 1));
    stream->append(audio(target, 15999)); // 11 s in total, 1 s after the line
    EXPECT_THAT(output.logsContaining("audio in"), ElementsAre("[Me] audio in: 10s peak10s=0.500"));

    // The window restarts: the next line shows only the quiet audio since.
    stream->append(audio(target, 160001, 0.0005f));
    stream->append(audio(target, 160001, 0.001f));
    EXPECT_THAT(output.logsContaining("audio in"),
                ElementsAre("[Me] audio in: 10s peak10s=0.500",
                            "[Me] audio in: 21s peak10s=0.001 (SILENT)",
                            "[Me] audio in: 31s peak10s=0.001"));
}

TEST_F(AnalyzerStreamTest, IntegerAudioShowsNoPeak) {
    started();
    const AudioFormat int16{16000, 1, CommonFormat::pcmInt16, false};
    auto loud = std::make_shared<PcmBuffer>(int16, 160001);
    loud->setFrameLength(160001);
    loud->int16ChannelData(0)[0] = 32000;
    stream->append(loud);
    EXPECT_THAT(output.logsContaining("audio in"),
                ElementsAre("[Me] audio in: 10s peak10s=0.000 (SILENT)"));
    // Converted to the engine's float format all the same.
    auto received = analysis.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0]->format(), target);
}

TEST_F(AnalyzerStreamTest, AudioPassesUnconvertedInTheTargetFormatOrWithoutOne) {
    started();
    auto same = audio(target, 1600, 0.5f);
    stream->append(same);
    EXPECT_THAT(analysis.received(), ElementsAre(same));
    finish();

    analysis.bestFormat = std::nullopt;
    started();
    auto odd = audio(mic44k, 441);
    stream->append(odd);
    EXPECT_THAT(analysis.received(), ElementsAre(odd));
}

// A new converter is visible as the resampler's start-up delay: its first output is well short
// of a third of the input, while a converter that carries on gives close to a third.
TEST_F(AnalyzerStreamTest, ConverterIsKeptPerFormatAndRemadeAtEachSwitch) {
    started();
    auto outputOf = [&](const AudioFormat& format, std::uint32_t frames) -> std::uint32_t {
        stream->append(audio(format, frames));
        auto received = analysis.received();
        if (received.size() != 1) return 0;
        EXPECT_EQ(received[0]->format(), target);
        return received[0]->frameLength();
    };
    const std::uint32_t fresh = outputOf(mic48k, 4800);
    EXPECT_LT(fresh, 1300u);
    EXPECT_GT(outputOf(mic48k, 4800), 1500u);
    EXPECT_GT(outputOf(mic48k, 4800), 1500u);
    EXPECT_LT(outputOf(mic44k, 4410), 1300u);
    EXPECT_GT(outputOf(mic44k, 4410), 1500u);
    EXPECT_LT(outputOf(mic48k, 4800), 1300u);
    EXPECT_THAT(output.logsContaining("convert error"), IsEmpty());
}

TEST_F(AnalyzerStreamTest, UnconvertibleAndEmptyBuffersAreDroppedSilently) {
    started();
    stream->append(audio({48000, 1, CommonFormat::other, false}, 480));
    stream->append(audio(mic48k, 0));
    EXPECT_THAT(analysis.received(), IsEmpty());
    EXPECT_THAT(output.logs(),
                ElementsAre("[Me] append #1 builder=true paused=false fmt=48000.0/0"));
}

TEST_F(AnalyzerStreamTest, LiveBacklogKeepsTheNewestInputs) {
    started(true);
    for (int i = 1; i <= 5000; ++i)
        stream->append(audio(target, 1, static_cast<float>(i)));
    auto received = analysis.received();
    ASSERT_EQ(received.size(), AnalyzerStream::liveBacklog);
    EXPECT_EQ(received.front()->floatChannelData(0)[0], 905.0f);
    EXPECT_EQ(received.back()->floatChannelData(0)[0], 5000.0f);
    finish();

    started(false);
    for (int i = 1; i <= 5000; ++i)
        stream->append(audio(target, 1, static_cast<float>(i)));
    EXPECT_EQ(analysis.received().size(), 5000u);
}

// --- Debug recording ---------------------------------------------------------------------------

class DebugRecordingTest : public AnalyzerStreamTest {
protected:
    void SetUp() override {
        AnalyzerStreamTest::SetUp();
        state = std::filesystem::temp_directory_path() /
                ("tarvine-state-" + std::to_string(::getpid()));
        std::filesystem::remove_all(state);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
    void TearDown() override {
        AnalyzerStreamTest::TearDown();
        ::unsetenv("TARVINE_DEBUG_AUDIO");
        ::unsetenv("XDG_STATE_HOME");
        std::filesystem::remove_all(state);
    }

    std::filesystem::path file() const { return state / "Logs" / "Tarvine-me.caf"; }

    std::filesystem::path state;
};

TEST_F(DebugRecordingTest, RecordsWhatTheEngineGets) {
    ::setenv("TARVINE_DEBUG_AUDIO", "1", 1);
    make();
    await(stream->start());
    EXPECT_THAT(output.logsContaining("debug audio"),
                ElementsAre("[Me] debug audio -> Tarvine-me.caf ok"));
    stream->append(audio(target, 1600, 0.5f));
    stream->append(audio(target, 400));
    finish();

    SF_INFO info{};
    SNDFILE* recorded = sf_open(file().c_str(), SFM_READ, &info);
    ASSERT_NE(recorded, nullptr);
    EXPECT_EQ(info.frames, 2000);
    EXPECT_EQ(info.samplerate, 16000);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_CAF);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    float first = 0;
    sf_readf_float(recorded, &first, 1);
    EXPECT_FLOAT_EQ(first, 0.5f);
    sf_close(recorded);
}

TEST_F(DebugRecordingTest, NeedsExactlyOneAndATargetFormat) {
    ::setenv("TARVINE_DEBUG_AUDIO", "true", 1);
    make();
    await(stream->start());
    finish();

    ::setenv("TARVINE_DEBUG_AUDIO", "1", 1);
    analysis.bestFormat = std::nullopt;
    make();
    await(stream->start());
    finish();

    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_THAT(output.logsContaining("debug audio"), IsEmpty());
}

TEST_F(DebugRecordingTest, UnwritablePlaceIsReported) {
    ::setenv("TARVINE_DEBUG_AUDIO", "1", 1);
    std::filesystem::create_directories(state);
    {
        std::FILE* blocker = std::fopen((state / "Logs").c_str(), "w");
        std::fclose(blocker);
    }
    make();
    await(stream->start());
    stream->append(audio(target, 160));
    EXPECT_THAT(output.logsContaining("debug audio"),
                ElementsAre("[Me] debug audio -> Tarvine-me.caf FAILED"));
    EXPECT_EQ(analysis.received().size(), 1u);
}
