#include "Decoder.h"

#include "base/HelperError.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace tarvine::adapters::sphinx {

namespace {

// Voice-activity settings, in 10 ms frames. Speech starts after 0.1 s of voice and keeps
// 0.2 s before it; it ends after 0.5 s of silence, so a sentence followed by a short pause
// becomes final promptly while pauses at commas stay inside the utterance.
constexpr const char* vadStartSpeech = "10";
constexpr const char* vadPreSpeech = "20";
constexpr const char* vadPostSpeech = "50";
constexpr const char* vadThreshold = "2.0";

// The largest piece handed to the decoder at once: voice activity is judged per piece, so
// pieces stay short enough for an utterance's end to be seen where it happens.
constexpr std::size_t pieceSamples = 2048;

// The library's messages would go to standard error, where nothing may appear in serve mode.
// They are dropped, except that each thread keeps its latest error line to describe a failure.
// The configuration listing bypasses the callback and is silenced with the log file.
thread_local std::string lastEngineError;

// The library ends the process (exit) right after reporting a fatal error, which a damaged
// model file provokes. While a model loads, such a report is thrown instead, through the
// library's frames (which carry unwind tables), and the load fails as an engine error; what
// the library had allocated for it is lost.
thread_local bool loading = false;

struct FatalEngineError {
    std::string message;
};

void engineLog(void*, err_lvl_t level, const char* format, ...) {
    if (level < ERR_WARN) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // A line may come in pieces; only the piece that ends it is kept, without the
    // library's source location ("ERROR: \"file.c\", line 12: ").
    std::string line = text;
    if (line.empty() || (line.back() != '\n' && level != ERR_FATAL)) return;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    std::replace(line.begin(), line.end(), '\n', ' ');
    if (auto at = line.find("\", line "); at != std::string::npos) {
        if (auto colon = line.find(": ", at); colon != std::string::npos) line.erase(0, colon + 2);
    }
    if (!line.empty()) lastEngineError = line;
    if (level == ERR_FATAL && loading) throw FatalEngineError{lastEngineError};
}

void quietLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        err_set_logfp(nullptr);
        err_set_callback(engineLog, nullptr);
    });
}

PlatformError engineError(const std::string& what) {
    std::string description = what;
    if (!lastEngineError.empty()) description += ": " + lastEngineError;
    lastEngineError.clear();
    return PlatformError("PocketSphinx", description);
}

} // namespace

Decoder::Decoder(const Model& model) {
    quietLibrary();
    lastEngineError.clear();
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acoustic.c_str(), "-lm",
                    model.languageModel.c_str(), "-dict", model.dictionary.c_str(),
                    "-vad_startspeech", vadStartSpeech, "-vad_prespeech", vadPreSpeech,
                    "-vad_postspeech", vadPostSpeech, "-vad_threshold", vadThreshold, nullptr);
    if (!config) throw engineError("cannot configure the decoder for " + model.locale);
    loading = true;
    try {
        decoder_ = ps_init(config);
    } catch (const FatalEngineError&) {
        decoder_ = nullptr;
    }
    loading = false;
    cmd_ln_free_r(config); // a decoder keeps its own reference
    if (!decoder_) throw engineError("cannot load the speech model for " + model.locale);
}

Decoder::~Decoder() {
    if (decoder_) ps_free(decoder_);
}

Utterances::Utterances(Decoder& decoder, const std::atomic<bool>* cancelled)
    : decoder_(decoder), cancelled_(cancelled) {
    if (ps_start_utt(decoder_.handle()) < 0) throw engineError("cannot start an utterance");
    open_ = true;
}

Utterances::~Utterances() {
    if (open_) ps_end_utt(decoder_.handle());
}

std::string Utterances::hypothesis() {
    std::int32_t score = 0;
    const char* text = ps_get_hyp(decoder_.handle(), &score);
    return text ? text : "";
}

void Utterances::feed(std::span<const std::int16_t> samples, const Emit& emit) {
    ps_decoder_t* ps = decoder_.handle();
    while (!samples.empty()) {
        if (cancelled_ && cancelled_->load()) return;
        if (!open_) {
            if (ps_start_utt(ps) < 0) throw engineError("cannot start an utterance");
            open_ = true;
        }
        const std::size_t count = std::min(samples.size(), pieceSamples);
        if (ps_process_raw(ps, samples.data(), count, FALSE, FALSE) < 0)
            throw engineError("cannot decode audio");
        samples = samples.subspan(count);

        const bool speech = ps_get_in_speech(ps) != 0;
        if (speech) inSpeech_ = true;
        if (!inSpeech_) continue;
        if (!speech) {
            // Speech gave way to silence: the utterance is over.
            open_ = false;
            inSpeech_ = false;
            last_.clear();
            if (ps_end_utt(ps) < 0) throw engineError("cannot end an utterance");
            if (!emit({hypothesis(), true})) return;
            continue;
        }
        std::string text = hypothesis();
        if (text != last_) {
            last_ = text;
            if (!emit({std::move(text), false})) return;
        }
    }
}

void Utterances::finish(const Emit& emit) {
    if (!open_) return;
    open_ = false;
    const bool hadSpeech = inSpeech_;
    inSpeech_ = false;
    last_.clear();
    if (ps_end_utt(decoder_.handle()) < 0) throw engineError("cannot end an utterance");
    if (hadSpeech) emit({hypothesis(), true});
}

} // namespace tarvine::adapters::sphinx
