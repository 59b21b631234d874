#pragma once

#include "Models.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct ps_decoder_s;

namespace tarvine::adapters::sphinx {

// The decoder's audio: 16 kHz, mono, 16-bit.
constexpr double decoderRate = 16000;

// One PocketSphinx decoder with its model loaded: about 0.6 s of CPU and 100 MiB, so it is
// loaded off the main thread and reused. Used by one thread at a time.
class Decoder {
public:
    // Throws PlatformError("PocketSphinx", ...) when the model cannot be loaded.
    explicit Decoder(const Model& model);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    ps_decoder_s* handle() { return decoder_; }

private:
    ps_decoder_s* decoder_ = nullptr;
};

// A hypothesis of the utterance in progress (volatile) or of one that ended (final).
struct Hypothesis {
    std::string text;
    bool isFinal = false;
};

// Decodes a continuous stream of samples into utterances that the decoder's voice-activity
// detection delimits: while speech goes on, each change of the hypothesis is reported as
// volatile; when speech gives way to silence the utterance ends with a final hypothesis and
// the next one begins. Decoding one long stream keeps the decoder's channel normalisation
// adapted, which recognises far better than an utterance per decoder.
class Utterances {
public:
    // Returns false to stop feeding (the rest of that call's samples are not decoded).
    using Emit = std::function<bool(Hypothesis)>;

    // Starts an utterance; feeding stops early once `cancelled` turns true. Throws
    // PlatformError.
    Utterances(Decoder& decoder, const std::atomic<bool>* cancelled = nullptr);
    // Ends an open utterance quietly, so the decoder can serve again.
    ~Utterances();
    Utterances(const Utterances&) = delete;
    Utterances& operator=(const Utterances&) = delete;

    // Throws PlatformError when the decoder fails.
    void feed(std::span<const std::int16_t> samples, const Emit& emit);
    // The end of the stream: ends the utterance, with a final hypothesis if speech had
    // begun. Throws PlatformError.
    void finish(const Emit& emit);

private:
    std::string hypothesis();

    Decoder& decoder_;
    const std::atomic<bool>* cancelled_;
    bool open_ = false;
    bool inSpeech_ = false;
    std::string last_;
};

} // namespace tarvine::adapters::sphinx
