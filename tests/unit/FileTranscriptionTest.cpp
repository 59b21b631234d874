#include "speech/FileTranscription.h"

#include "FakePlatform.h"
#include "FakeSpeech.h"
#include "LoopDriver.h"
#include "RecordingEvents.h"
#include "base/AudioFile.h"
#include "speech/Load.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace tarvine;
using fakes::loop::await;
using testing::ElementsAre;

namespace {

namespace fs = std::filesystem;

const AudioFormat mono16k{16000, 1, CommonFormat::pcmFloat32, false};

class FileTranscriptionTest : public testing::Test {
protected:
    void SetUp() override {
        fakes::installFakePlatform().analysis = &analysis;
        // Buffers reach the engine as the file holds them.
        analysis.bestFormat = std::nullopt;
        fakes::loop::drain();
    }

    void TearDown() override {
        if (engine.joinable()) engine.join();
        fs::remove(path);
    }

    void writeFile(const AudioFormat& format, std::uint32_t frames) {
        auto file = AudioFile::forWriting(path, format);
        PcmBuffer block(format, frames);
        block.setFrameLength(frames);
        ASSERT_TRUE(file->write(block));
    }

    // The engine: answers with `results` before it takes any input (a file longer than
    // pendingLimit blocks cannot be finished before that), then takes every input as it comes
    // (slowly when asked), noting how many were waiting.
    void runEngine(std::vector<platform::TranscriptionResult> results,
                   std::chrono::microseconds perInput = {}) {
        engine = std::thread([this, results = std::move(results), perInput] {
            std::shared_ptr<platform::AnalyzerInputSequence> input;
            while (!(input = analysis.input()))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (const auto& result : results)
                analysis.deliver(result.text, result.isFinal);
            for (;;) {
                mostPending = std::max(mostPending, input->pendingCount());
                auto next = input->next();
                if (!next) break;
                blocks.push_back((*next)->frameLength());
                std::this_thread::sleep_for(perInput);
            }
        });
    }

    std::string transcribe() { return await(FileTranscription::run(path, "en-US", events)); }

    const std::string path =
        (fs::temp_directory_path() / ("tarvine-file-" + std::to_string(getpid()) + ".caf"))
            .string();
    fakes::FakeAnalysis analysis;
    fakes::RecordingEvents events;
    std::thread engine;
    std::vector<std::uint32_t> blocks; // the engine thread's until it is joined
    std::size_t mostPending = 0;
};

TEST_F(FileTranscriptionTest, FinalSegmentsAreJoinedAndLaterVolatileTextIsLeftOut) {
    writeFile(mono16k, 70 * 4096 + 100);
    runEngine({{"hello", false},
               {"hello there", true},
               {"", true},
               {"general", true},
               {"kenobi", false}});
    EXPECT_EQ(transcribe(), "hello there general");
    engine.join();
    // Whole blocks, then the shorter rest.
    ASSERT_EQ(blocks.size(), 71u);
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), 4096u), 70);
    EXPECT_EQ(blocks.back(), 100u);
}

TEST_F(FileTranscriptionTest, WithoutFinalSegmentsTheLastNonEmptyVolatileTextIsMarkedPartial) {
    writeFile(mono16k, 70 * 4096);
    runEngine({{"one", false}, {"one two", false}, {"", false}, {"  ", true}});
    EXPECT_EQ(transcribe(), "(partial) one two");
}

TEST_F(FileTranscriptionTest, ReadingKeepsPaceWithASlowEngine) {
    writeFile(mono16k, 300 * 4096);
    runEngine({}, std::chrono::microseconds(200));
    EXPECT_EQ(transcribe(), "(partial) ");
    engine.join();
    EXPECT_EQ(blocks.size(), 300u);
    EXPECT_LE(mostPending, FileTranscription::pendingLimit);
}

TEST_F(FileTranscriptionTest, AnUnsupportedLocaleFailsBeforeAnyAudioIsRead) {
    writeFile(mono16k, 4096);
    analysis.supported = std::nullopt;
    EXPECT_THROW(
        {
            try {
                transcribe();
            } catch (const HelperError& error) {
                EXPECT_STREQ(error.what(), "Transcription isn't available for en-US on this Mac.");
                throw;
            }
        },
        HelperError);
    EXPECT_EQ(analysis.analyzersMade, 0);
}

TEST(FileTranscriptionProgress, ShowsPercentAndPositionOfTheLength) {
    EXPECT_EQ(FileTranscription::progressText(750 * 16000, 3482 * 16000, 16000),
              "21% 12:30 / 58:02");
    EXPECT_EQ(FileTranscription::progressText(44100, 2 * 3600 * 44100, 44100),
              "0% 0:00:01 / 2:00:00");
    EXPECT_EQ(FileTranscription::progressText(10, 10, 16000), "100% 0:00 / 0:00");
    EXPECT_EQ(FileTranscription::progressText(0, 0, 16000), "");
}

// The soak feeder's blocks are 20 ms of the file's own rate, looping over a shorter file.
TEST_F(FileTranscriptionTest, SoakFeedsTwentyMillisecondBlocksInALoop) {
    writeFile({44100, 1, CommonFormat::pcmFloat32, false}, 4000);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    auto soaking = Load::soak(path, "en-US", 1, events, report[1]);
    auto done = asio::co_spawn(MainLoop::context(), std::move(soaking), asio::use_future);
    ASSERT_TRUE(fakes::loop::runUntil(
        [&] { return events.logsContaining("analyzer started").size() == 2; }));
    // Past the feeding second, move the loop's clock over the 30-second wait.
    fakes::loop::runUntil([] { return false; }, std::chrono::milliseconds(1300));
    fakes::loop::advance(std::chrono::seconds(30));
    ASSERT_TRUE(fakes::loop::runUntil(
        [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    done.get();
    close(report[1]);
    char text[512] = {};
    const ssize_t got = read(report[0], text, sizeof text - 1);
    close(report[0]);
    EXPECT_GT(got, 0);
    EXPECT_THAT(std::string(text),
                testing::MatchesRegex("t=1s footprint=[0-9]+\\.[0-9]MB commits=0 "
                                      "failures=0\nfinish took [0-9]+\\.[0-9][0-9]s "
                                      "footprint=[0-9]+\\.[0-9]MB commits=0 failures=0\n"));
    // The fake keeps the second stream's input: 882-frame blocks, the file's 4000 frames
    // being four whole ones and a rest of 472.
    std::vector<std::uint32_t> fed;
    for (const auto& block : analysis.received())
        fed.push_back(block->frameLength());
    ASSERT_GE(fed.size(), 45u);
    EXPECT_LE(fed.size(), 51u);
    EXPECT_THAT(std::vector<std::uint32_t>(fed.begin(), fed.begin() + 6),
                ElementsAre(882u, 882u, 882u, 882u, 472u, 882u));
}

} // namespace
