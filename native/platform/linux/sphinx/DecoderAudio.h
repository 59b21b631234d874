#pragma once

#include "base/Audio.h"
#include "base/AudioConverter.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarvine::adapters::sphinx {

// Brings buffers of any format to the decoder's samples (16 kHz, mono, 16-bit). One
// converter serves while the input format stays the same, so consecutive buffers resample as
// one seamless stream; a change of format drains the old converter first.
class DecoderAudio {
public:
    static const AudioFormat format;

    // Appends the buffer's samples to `samples`. False when the buffer's format cannot be
    // converted; nothing is appended then.
    bool append(const PcmBuffer& buffer, std::vector<std::int16_t>& samples);
    // The samples the converter still holds, at the end of the stream.
    void drain(std::vector<std::int16_t>& samples);

private:
    std::unique_ptr<AudioConverter> converter_;
};

} // namespace tarvine::adapters::sphinx
