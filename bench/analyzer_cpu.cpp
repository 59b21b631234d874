// CPU of the analyzer engine beside PocketSphinx's own continuous recogniser, on the same
// spoken conversation: ours takes it as live capture delivers it (48 kHz float buffers, so
// resampling is part of the work), the peer reads the 16 kHz file. Best of three runs each.
#include "SpokenAudio.h"
#include "platform/linux/sphinx/Analysis.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace tarvine;
using namespace tarvine::testing;

namespace {

const std::vector<std::string> conversation = {
    "Good morning, thank you all for joining the call today.",
    "We need to finish the quarterly report before the end of the week.",
    "The new design looks much better than the old one.",
    "Can you send me the numbers from last month?",
    "I think we should schedule another meeting on Thursday afternoon.",
    "Let us talk about the budget for next year.",
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double cpu = 0;
    std::string text;
};

Run peer(const std::string& wav) {
    Run run;
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    FILE* pipe = popen(("pocketsphinx_continuous -infile '" + wav + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
        run.text.append(chunk, n);
    pclose(pipe);
    run.cpu = cpuSeconds(RUSAGE_CHILDREN) - before;
    std::replace(run.text.begin(), run.text.end(), '\n', ' ');
    return run;
}

// Everything from loading the model to the last final result.
Run ours(const std::vector<PcmBufferRef>& buffers) {
    Run run;
    const double before = cpuSeconds(RUSAGE_SELF);
    auto analysis = adapters::sphinx::makeSpeechAnalysis();
    auto analyzer = analysis->makeAnalyzer("en-US");
    auto input = std::make_shared<platform::AnalyzerInputSequence>();
    auto results = std::make_shared<platform::TranscriptionResults>();
    analyzer->start(input, results);
    std::thread reader([&] {
        while (auto result = results->next())
            if (result->isFinal && !result->text.empty())
                run.text += (run.text.empty() ? "" : " ") + result->text;
    });
    for (const auto& buffer : buffers)
        input->yield(buffer);
    input->finish();
    analyzer->finalizeAndFinishThroughEndOfInput();
    reader.join();
    run.cpu = cpuSeconds(RUSAGE_SELF) - before;
    return run;
}

Run best(Run a, Run b) {
    return a.cpu <= b.cpu ? a : b;
}

} // namespace

int main() {
    std::vector<float> audio = silence(1.0);
    std::string reference;
    for (const auto& sentence : conversation) {
        auto speech = speak(sentence);
        if (speech.empty()) {
            std::fprintf(stderr, "flite could not speak\n");
            return 1;
        }
        appendTo(audio, speech);
        appendTo(audio, silence(1.0));
        reference += sentence + " ";
    }
    TemporaryFolder folder;
    const std::string wav = folder.path() + "/conversation.wav";
    if (!writeWav(wav, audio)) {
        std::fprintf(stderr, "cannot write %s\n", wav.c_str());
        return 1;
    }
    const auto buffers = buffersOf(audio, AudioFormat{48000, 1, CommonFormat::pcmFloat32, false});

    Run mine, theirs;
    for (int round = 0; round < 3; ++round) {
        mine = round == 0 ? ours(buffers) : best(mine, ours(buffers));
        theirs = round == 0 ? peer(wav) : best(theirs, peer(wav));
    }
    if (theirs.text.empty()) {
        std::fprintf(stderr, "pocketsphinx_continuous gave nothing\n");
        return 1;
    }
    std::printf("analyzer CPU for %.1f s of speech: tarvine %.2f s (word errors %.1f%%), "
                "pocketsphinx_continuous %.2f s (word errors %.1f%%); ratio %.2f\n",
                static_cast<double>(audio.size()) / spokenRate, mine.cpu,
                wordErrorRate(reference, mine.text) * 100, theirs.cpu,
                wordErrorRate(reference, theirs.text) * 100, mine.cpu / theirs.cpu);
    return 0;
}
