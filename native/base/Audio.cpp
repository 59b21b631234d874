#include "Audio.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace tarvine {

std::size_t AudioFormat::bytesPerSample() const {
    switch (commonFormat) {
    case CommonFormat::pcmFloat32:
        return 4;
    case CommonFormat::pcmFloat64:
        return 8;
    case CommonFormat::pcmInt16:
        return 2;
    case CommonFormat::pcmInt32:
        return 4;
    case CommonFormat::other:
        return 0;
    }
    return 0;
}

std::string AudioFormat::description() const {
    const char* sample = "other";
    switch (commonFormat) {
    case CommonFormat::pcmFloat32:
        sample = "Float32";
        break;
    case CommonFormat::pcmFloat64:
        sample = "Float64";
        break;
    case CommonFormat::pcmInt16:
        sample = "Int16";
        break;
    case CommonFormat::pcmInt32:
        sample = "Int32";
        break;
    case CommonFormat::other:
        break;
    }
    char text[128];
    std::snprintf(text, sizeof text, "<AudioFormat: %u ch, %g Hz, %s%s>", channelCount, sampleRate,
                  sample, interleaved && channelCount > 1 ? ", interleaved" : "");
    return text;
}

PcmBuffer::PcmBuffer(const AudioFormat& format, std::uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity) {
    const std::size_t sample = format.bytesPerSample();
    if (format.interleaved) {
        planes_.emplace_back(sample * format.channelCount * frameCapacity);
    } else {
        for (std::uint32_t c = 0; c < format.channelCount; ++c)
            planes_.emplace_back(sample * frameCapacity);
    }
}

void PcmBuffer::setFrameLength(std::uint32_t frames) {
    frameLength_ = std::min(frames, frameCapacity_);
}

float* PcmBuffer::floatChannelData(std::uint32_t channel) {
    return const_cast<float*>(std::as_const(*this).floatChannelData(channel));
}

const float* PcmBuffer::floatChannelData(std::uint32_t channel) const {
    if (format_.commonFormat != CommonFormat::pcmFloat32 || channel >= format_.channelCount)
        return nullptr;
    if (format_.interleaved && format_.channelCount > 1) return nullptr;
    return reinterpret_cast<const float*>(planes_[channel].data());
}

std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t channel) {
    return const_cast<std::int16_t*>(std::as_const(*this).int16ChannelData(channel));
}

const std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t channel) const {
    if (format_.commonFormat != CommonFormat::pcmInt16 || channel >= format_.channelCount)
        return nullptr;
    if (format_.interleaved && format_.channelCount > 1) return nullptr;
    return reinterpret_cast<const std::int16_t*>(planes_[channel].data());
}

} // namespace tarvine
