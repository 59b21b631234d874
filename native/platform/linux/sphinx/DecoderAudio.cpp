#include "DecoderAudio.h"

#include "Decoder.h"

#include <cmath>
#include <string>

namespace tarvine::adapters::sphinx {

const AudioFormat DecoderAudio::format{decoderRate, 1, CommonFormat::pcmInt16, false};

namespace {

void take(const PcmBuffer& converted, std::vector<std::int16_t>& samples) {
    const std::int16_t* data = converted.int16ChannelData(0);
    samples.insert(samples.end(), data, data + converted.frameLength());
}

} // namespace

bool DecoderAudio::append(const PcmBuffer& buffer, std::vector<std::int16_t>& samples) {
    if (buffer.format() == format) {
        const std::int16_t* data = buffer.int16ChannelData(0);
        samples.insert(samples.end(), data, data + buffer.frameLength());
        return true;
    }
    if (!converter_ || converter_->inputFormat() != buffer.format()) {
        drain(samples);
        converter_ = AudioConverter::make(buffer.format(), format);
        if (!converter_) return false;
    }
    // Room for the whole buffer at the decoder's rate, so nothing waits for the next call.
    const double frames =
        std::ceil(buffer.frameLength() * decoderRate / buffer.format().sampleRate);
    PcmBuffer converted(format, static_cast<std::uint32_t>(frames) + 64);
    std::string error;
    if (!converter_->convert(buffer, converted, error)) return false;
    take(converted, samples);
    return true;
}

void DecoderAudio::drain(std::vector<std::int16_t>& samples) {
    if (!converter_) return;
    std::string error;
    PcmBuffer converted(format, 4096);
    // The resampler's delay is a few milliseconds; the bound only guards against a loop.
    for (int round = 0; round < 16; ++round) {
        if (!converter_->drain(converted, error) || converted.frameLength() == 0) break;
        take(converted, samples);
    }
    converter_.reset();
}

} // namespace tarvine::adapters::sphinx
