#pragma once

#include "Audio.h"

#include <memory>
#include <string>
#include <vector>

struct soxr;

namespace tarvine {

// Converts a stream of PCM buffers from one format to another: sample rate (libsoxr), channel
// count (mono mixes down by averaging; mono to many copies) and sample format. The resampler
// keeps its state between calls, so consecutive buffers convert as one seamless stream.
class AudioConverter {
public:
    // Null when either format cannot be converted (no channels, no rate, unknown samples).
    static std::unique_ptr<AudioConverter> make(const AudioFormat& from, const AudioFormat& to);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    const AudioFormat& inputFormat() const { return from_; }
    const AudioFormat& outputFormat() const { return to_; }

    // Converts the whole of `input` (which must be in inputFormat()) into `output` (in
    // outputFormat()), replacing its contents. The resampler's delay means the output may
    // hold somewhat fewer frames than the rates suggest, even none; input that does not fit
    // the output's capacity is kept for the next call. False, with `error`, on failure.
    bool convert(const PcmBuffer& input, PcmBuffer& output, std::string& error);

    // The frames the resampler still holds, at the end of a stream.
    bool drain(PcmBuffer& output, std::string& error);

private:
    AudioConverter(const AudioFormat& from, const AudioFormat& to, soxr* resampler);

    void appendAsFloat(const PcmBuffer& input);
    void emit(const float* frames, std::size_t count, PcmBuffer& output) const;
    bool resample(const float* in, std::size_t frames, PcmBuffer& output, std::string& error);

    AudioFormat from_;
    AudioFormat to_;
    soxr* resampler_;            // null when the rates are equal
    std::vector<float> pending_; // interleaved float frames in the output's channel count
    std::vector<float> scratch_;
};

} // namespace tarvine
