#include "SpokenAudio.h"
#include "platform/linux/sphinx/Recognition.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace tarvine;
using namespace tarvine::testing;
using namespace std::chrono_literals;
using platform::RecognitionError;
using platform::RecognitionResult;

namespace {

const AudioFormat stereo44kInt{44100, 2, CommonFormat::pcmInt16, true};
const AudioFormat capture48k{48000, 1, CommonFormat::pcmFloat32, false};

struct Call {
    std::optional<RecognitionResult> result;
    std::optional<RecognitionError> error;
    std::thread::id thread;

    bool terminal() const { return error || (result && result->isFinal); }
};

// Records the handler calls of one task. Declared before the task, so it outlives the task's
// thread.
class Calls {
public:
    platform::RecognitionHandler handler() {
        // Every copy of the handler shares this token; when the task has let go of them all,
        // no call can follow.
        std::shared_ptr<Calls> token(this, [](Calls* calls) { calls->released(); });
        return [token](std::optional<RecognitionResult> result,
                       std::optional<RecognitionError> error) {
            std::lock_guard guard(token->lock_);
            token->calls_.push_back(
                {std::move(result), std::move(error), std::this_thread::get_id()});
            token->changed_.notify_all();
        };
    }

    // The barrier after which the calls are complete: the task has dropped its handler.
    bool waitForRelease(std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] { return released_; });
    }

    bool waitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] {
            for (const auto& call : calls_)
                if (call.terminal()) return true;
            return false;
        });
    }
    bool waitForPartial(std::chrono::milliseconds timeout) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, timeout, [&] {
            for (const auto& call : calls_)
                if (call.result && !call.result->isFinal) return true;
            return false;
        });
    }

    std::vector<Call> all() {
        std::lock_guard guard(lock_);
        return calls_;
    }

private:
    void released() {
        std::lock_guard guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    bool released_ = false;
};

// The calls end with exactly one terminal call, and nothing comes after it.
void expectOneTerminalCallLast(const std::vector<Call>& calls) {
    ASSERT_FALSE(calls.empty());
    for (std::size_t i = 0; i + 1 < calls.size(); ++i)
        EXPECT_FALSE(calls[i].terminal()) << "call " << i << " of " << calls.size();
    EXPECT_TRUE(calls.back().terminal());
}

std::unique_ptr<platform::SpeechRecognizer> englishRecognizer() {
    return adapters::sphinx::makeSpeechRecognition()->makeRecognizer("en-US");
}

void appendAll(platform::RecognitionRequest& request, const std::vector<PcmBufferRef>& buffers) {
    for (const auto& buffer : buffers)
        request.append(*buffer);
}

} // namespace

TEST(SphinxRecognizer, GivesPartialsThenAFinalWhenTheSpeechEnds) {
    const std::string sentence =
        "I think we should schedule another meeting on Thursday afternoon.";
    std::vector<float> audio = silence(1.0);
    appendTo(audio, speak(sentence));
    appendTo(audio, silence(1.5));

    auto recognizer = englishRecognizer();
    ASSERT_TRUE(recognizer);
    Calls calls;
    auto request = recognizer->makeRequest({});
    auto task = recognizer->recognitionTask(request, calls.handler());
    // Audio comes from a capture thread, as 44.1 kHz stereo integers, and never "ends".
    std::thread capture([&] { appendAll(*request, buffersOf(audio, stereo44kInt)); });
    capture.join();
    ASSERT_TRUE(calls.waitForEnd(60s));

    // Audio after the final belongs to no utterance of this task: the task ends by itself.
    appendAll(*request, buffersOf(audio, stereo44kInt));
    ASSERT_TRUE(calls.waitForRelease(10s)) << "the task went on after its final";
    const auto all = calls.all();
    expectOneTerminalCallLast(all);
    ASSERT_GE(all.size(), 2u) << "no partial before the final";
    for (const auto& call : all) {
        EXPECT_FALSE(call.error);
        ASSERT_TRUE(call.result);
        EXPECT_FALSE(call.result->formattedString.empty());
        EXPECT_NE(call.thread, std::this_thread::get_id());
    }
    EXPECT_LE(wordErrorRate(sentence, all.back().result->formattedString), 0.3)
        << all.back().result->formattedString;
}

TEST(SphinxRecognizer, EndOfAudioEndsTheUtteranceWithAFinal) {
    const std::string sentence = "The customer asked about the price of the software.";
    auto recognizer = englishRecognizer();

    // Speech cut off by the end of the audio, without partials when none are wanted.
    {
        std::vector<float> audio = silence(0.5);
        appendTo(audio, speak(sentence));
        Calls calls;
        platform::RecognitionRequestOptions options;
        options.shouldReportPartialResults = false;
        auto request = recognizer->makeRequest(options);
        auto task = recognizer->recognitionTask(request, calls.handler());
        appendAll(*request, buffersOf(audio, capture48k));
        request->endAudio();
        ASSERT_TRUE(calls.waitForEnd(60s));
        const auto all = calls.all();
        ASSERT_EQ(all.size(), 1u);
        ASSERT_TRUE(all[0].result);
        EXPECT_TRUE(all[0].result->isFinal);
        EXPECT_LE(wordErrorRate(sentence, all[0].result->formattedString), 0.3)
            << all[0].result->formattedString;
    }

    // Silence alone: the task still ends, with an empty final.
    {
        Calls calls;
        auto request = recognizer->makeRequest({});
        auto task = recognizer->recognitionTask(request, calls.handler());
        appendAll(*request, buffersOf(silence(1.0), capture48k));
        request->endAudio();
        ASSERT_TRUE(calls.waitForEnd(10s));
        const auto all = calls.all();
        ASSERT_EQ(all.size(), 1u);
        ASSERT_TRUE(all[0].result);
        EXPECT_TRUE(all[0].result->isFinal);
        EXPECT_EQ(all[0].result->formattedString, "");
    }
}

TEST(SphinxRecognizer, CancelStopsPromptlyAndTheNextTaskStillRecognizes) {
    auto recognizer = englishRecognizer();
    std::vector<float> audio = silence(0.5);
    appendTo(audio, speak("We need to finish the quarterly report before the end of the week, "
                          "and then we can talk about the budget for next year."));
    {
        Calls calls;
        auto request = recognizer->makeRequest({});
        auto task = recognizer->recognitionTask(request, calls.handler());
        appendAll(*request, buffersOf(audio, capture48k));
        ASSERT_TRUE(calls.waitForPartial(20s));
        task->cancel();
        const std::size_t atCancel = calls.all().size();
        // The speech never ends and the audio neither, so only the cancellation ends the task.
        ASSERT_TRUE(calls.waitForEnd(10s)) << "cancelling hung";
        ASSERT_TRUE(calls.waitForRelease(10s)) << "the task went on after cancelling";
        const auto all = calls.all();
        expectOneTerminalCallLast(all);
        ASSERT_TRUE(all.back().error);
        EXPECT_EQ(all.back().error->domain, "PocketSphinx");
        // Decoding stops where it stands rather than working through the backlog: once
        // cancel() has returned, at most the partial already under way precedes the error.
        EXPECT_LE(all.size() - atCancel, 2u);
    }

    // The decoder, left in the middle of an utterance, serves the next task afresh.
    const std::string sentence = "Please write down the main points and share them with the team.";
    std::vector<float> next = silence(0.5);
    appendTo(next, speak(sentence));
    appendTo(next, silence(1.0));
    Calls calls;
    auto request = recognizer->makeRequest({});
    auto task = recognizer->recognitionTask(request, calls.handler());
    appendAll(*request, buffersOf(next, capture48k));
    request->endAudio();
    ASSERT_TRUE(calls.waitForEnd(60s));
    const auto all = calls.all();
    expectOneTerminalCallLast(all);
    ASSERT_TRUE(all.back().result);
    EXPECT_LE(wordErrorRate(sentence, all.back().result->formattedString), 0.3)
        << all.back().result->formattedString;
}
