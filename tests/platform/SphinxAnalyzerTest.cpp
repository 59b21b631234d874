#include "SpokenAudio.h"
#include "base/HelperError.h"
#include "platform/linux/sphinx/Analysis.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace tarvine;
using namespace tarvine::testing;
using namespace std::chrono_literals;
using platform::AnalyzerInputSequence;
using platform::TranscriptionResult;
using platform::TranscriptionResults;

namespace {

const AudioFormat capture48k{48000, 1, CommonFormat::pcmFloat32, false};
const AudioFormat stereo44kInt{44100, 2, CommonFormat::pcmInt16, true};

const std::vector<std::string> conversation = {
    "Good morning, thank you all for joining the call today.",
    "We need to finish the quarterly report before the end of the week.",
    "The new design looks much better than the old one.",
    "Can you send me the numbers from last month?",
    "I think we should schedule another meeting on Thursday afternoon.",
    "Let us talk about the budget for next year.",
};

// Reads a results sequence on a thread of its own, as the analyzer stream does.
class Collector {
public:
    explicit Collector(std::shared_ptr<TranscriptionResults> results)
        : thread_([this, results] { read(*results); }) {}
    ~Collector() { thread_.join(); }

    // Waits until `done(results, ended)` holds; false after `timeout`.
    template <class Done> bool waitFor(Done done, std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return done(results_, ended_); });
    }
    bool waitForEnd(std::chrono::milliseconds timeout) {
        return waitFor([](const auto&, bool ended) { return ended; }, timeout);
    }

    std::vector<TranscriptionResult> results() {
        std::lock_guard guard(lock_);
        return results_;
    }
    std::size_t finalCount() {
        std::size_t count = 0;
        for (const auto& result : results())
            count += result.isFinal;
        return count;
    }
    std::string finalText() {
        std::string text;
        for (const auto& result : results())
            if (result.isFinal && !result.text.empty())
                text += (text.empty() ? "" : " ") + result.text;
        return text;
    }
    std::exception_ptr error() {
        std::lock_guard guard(lock_);
        return error_;
    }

private:
    void read(TranscriptionResults& results) {
        try {
            while (auto result = results.next()) {
                std::lock_guard guard(lock_);
                results_.push_back(*result);
                changed_.notify_all();
            }
        } catch (...) {
            std::lock_guard guard(lock_);
            error_ = std::current_exception();
        }
        std::lock_guard guard(lock_);
        ended_ = true;
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<TranscriptionResult> results_;
    bool ended_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

// What PocketSphinx's own continuous recogniser makes of the same audio.
std::string pocketsphinxContinuous(const std::string& wav) {
    std::string command = "pocketsphinx_continuous -infile '" + wav + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string text;
    char chunk[4096];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
        text.append(chunk, n);
    pclose(pipe);
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

struct Started {
    std::unique_ptr<platform::SpeechAnalyzer> analyzer;
    std::shared_ptr<AnalyzerInputSequence> input = std::make_shared<AnalyzerInputSequence>();
    std::shared_ptr<TranscriptionResults> results = std::make_shared<TranscriptionResults>();
};

Started startAnalyzer(platform::SpeechAnalysis& analysis) {
    Started started;
    started.analyzer = analysis.makeAnalyzer("en-US");
    started.analyzer->start(started.input, started.results);
    return started;
}

} // namespace

TEST(SphinxAnalyzer, TranscribesAConversationAboutAsWellAsPocketSphinxItself) {
    // The conversation with pauses between sentences, and where each sentence's pause ends.
    std::vector<float> audio = silence(1.0);
    std::vector<std::size_t> pauseEnds;
    std::string reference;
    for (const auto& sentence : conversation) {
        auto speech = speak(sentence);
        ASSERT_FALSE(speech.empty()) << "flite could not speak";
        appendTo(audio, speech);
        appendTo(audio, silence(1.0));
        pauseEnds.push_back(audio.size());
        reference += sentence + " ";
    }
    appendTo(audio, silence(1.0));

    TemporaryFolder folder;
    const std::string wav = folder.path() + "/conversation.wav";
    ASSERT_TRUE(writeWav(wav, audio));
    // The peer decodes meanwhile (bench/analyzer_cpu compares the work each does).
    auto peer = std::async(std::launch::async, [&] { return pocketsphinxContinuous(wav); });

    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto started = startAnalyzer(*analysis);
    ASSERT_EQ(started.analyzer->bestAvailableAudioFormat(),
              (AudioFormat{16000, 1, CommonFormat::pcmInt16, false}));
    Collector collector(started.results);

    // Live capture: 2048-frame float buffers at 48 kHz. Each sentence must be final within
    // its one-second pause, before the next sentence is spoken.
    const auto buffers = buffersOf(audio, capture48k);
    std::size_t next = 0;
    for (std::size_t s = 0; s < pauseEnds.size(); ++s) {
        const std::size_t finalsBefore = collector.finalCount();
        const std::size_t end = pauseEnds[s] * 3 / 2048;
        for (; next < end && next < buffers.size(); ++next)
            started.input->yield(buffers[next]);
        const bool final = collector.waitFor(
            [&](const std::vector<TranscriptionResult>& results, bool) {
                std::size_t finals = 0;
                for (const auto& result : results)
                    finals += result.isFinal;
                return finals > finalsBefore && results.back().isFinal;
            },
            60s);
        EXPECT_TRUE(final) << "no final within the pause after: " << conversation[s];
    }
    for (; next < buffers.size(); ++next)
        started.input->yield(buffers[next]);
    started.input->finish();
    started.analyzer->finalizeAndFinishThroughEndOfInput();
    ASSERT_TRUE(collector.waitForEnd(5s));
    const std::string peerText = peer.get();
    ASSERT_FALSE(peerText.empty()) << "pocketsphinx_continuous gave nothing";
    EXPECT_FALSE(collector.error());

    // Volatile results come as the hypothesis changes, not once per buffer.
    const auto results = collector.results();
    std::size_t volatiles = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (results[i].isFinal) continue;
        ++volatiles;
        if (i > 0 && !results[i - 1].isFinal) {
            EXPECT_NE(results[i].text, results[i - 1].text);
        }
    }
    EXPECT_GE(volatiles, conversation.size());

    const double ours = wordErrorRate(reference, collector.finalText());
    const double theirs = wordErrorRate(reference, peerText);
    std::printf("word errors: ours %.1f%%, pocketsphinx_continuous %.1f%%\nours: %s\n", ours * 100,
                theirs * 100, collector.finalText().c_str());
    EXPECT_LE(ours, theirs + 0.10);
    EXPECT_LE(ours, 0.25);
}

TEST(SphinxAnalyzer, TwoAnalyzersTakeBuffersInAnyFormatAtTheSameTime) {
    const std::string sentence = "Please send the report to the whole team before lunch.";
    std::vector<float> audio = silence(1.0);
    appendTo(audio, speak(sentence));
    std::vector<float> cutOff = audio;
    appendTo(audio, silence(1.0));

    // One gets 44.1 kHz stereo integers, the other its own format, which needs no converting,
    // and its input ends right after the speech: the final then comes from finalising.
    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    std::vector<Started> analyzers(2);
    std::vector<std::thread> starting;
    for (auto& started : analyzers)
        starting.emplace_back([&] {
            started.analyzer = analysis->makeAnalyzer("en-US");
            started.analyzer->start(started.input, started.results);
        });
    for (auto& thread : starting)
        thread.join();
    Collector first(analyzers[0].results), second(analyzers[1].results);
    const auto stereo = buffersOf(audio, stereo44kInt);
    const auto own = buffersOf(cutOff, *analyzers[1].analyzer->bestAvailableAudioFormat(), 682);
    for (std::size_t i = 0; i < std::max(stereo.size(), own.size()); ++i) {
        if (i < stereo.size()) analyzers[0].input->yield(stereo[i]);
        if (i < own.size()) analyzers[1].input->yield(own[i]);
    }
    for (auto& started : analyzers) {
        started.input->finish();
        started.analyzer->finalizeAndFinishThroughEndOfInput();
    }
    ASSERT_TRUE(first.waitForEnd(5s));
    ASSERT_TRUE(second.waitForEnd(5s));
    EXPECT_LE(wordErrorRate(sentence, first.finalText()), 0.3) << first.finalText();
    EXPECT_LE(wordErrorRate(sentence, second.finalText()), 0.3) << second.finalText();
}

TEST(SphinxAnalyzer, EndsCleanlyWithoutAudioOrWhenCancelledMidStream) {
    auto analysis = adapters::sphinx::makeSpeechAnalysis();

    // No audio at all: nothing to report, and the results simply end.
    {
        auto started = startAnalyzer(*analysis);
        Collector collector(started.results);
        started.input->finish();
        started.analyzer->finalizeAndFinishThroughEndOfInput();
        ASSERT_TRUE(collector.waitForEnd(1s));
        EXPECT_TRUE(collector.results().empty());
        EXPECT_FALSE(collector.error());
        EXPECT_THROW(started.analyzer->start(started.input, started.results), PlatformError);
    }

    // Input that nobody ends does not hold finalising up forever.
    {
        auto started = startAnalyzer(*analysis);
        Collector collector(started.results);
        const auto begin = std::chrono::steady_clock::now();
        started.analyzer->finalizeAndFinishThroughEndOfInput();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
        EXPECT_TRUE(collector.waitForEnd(1s));
    }

    // Cancelled while a long backlog of speech is being decoded: stops at once, and the
    // results end without anything further.
    {
        std::vector<float> audio = silence(0.5);
        for (int i = 0; i < 4; ++i) {
            appendTo(audio, speak(conversation[static_cast<std::size_t>(i)]));
            appendTo(audio, silence(0.8));
        }
        auto started = startAnalyzer(*analysis);
        Collector collector(started.results);
        for (const auto& buffer : buffersOf(audio, capture48k))
            started.input->yield(buffer);
        ASSERT_TRUE(
            collector.waitFor([](const auto& results, bool) { return !results.empty(); }, 10s));
        // Stopping at once shows as the backlog left undecoded (below); the bound only
        // catches a hang.
        const auto begin = std::chrono::steady_clock::now();
        started.analyzer->cancelAndFinishNow();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s) << "cancelling hung";
        EXPECT_TRUE(started.results->ended());
        ASSERT_TRUE(collector.waitForEnd(1s));
        EXPECT_GT(started.input->pendingCount(), 0u) << "the backlog was decoded after all";
        EXPECT_NO_THROW(started.analyzer->finalizeAndFinishThroughEndOfInput());
        EXPECT_THROW(started.analyzer->start(started.input, started.results), PlatformError);

        // Dropped while its input is open and speech is pending: stops too (freeing the
        // model takes a moment of its own).
        auto again = startAnalyzer(*analysis);
        Collector dropped(again.results);
        for (const auto& buffer : buffersOf(audio, capture48k))
            again.input->yield(buffer);
        const auto dropping = std::chrono::steady_clock::now();
        again.analyzer.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - dropping, 1s);
        EXPECT_TRUE(dropped.waitForEnd(1s));
    }
}
