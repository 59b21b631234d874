#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvine {

// Sample formats, numbered as the audio formats of the other platform number them (the
// analyzer's log lines print the number).
enum class CommonFormat : unsigned {
    other = 0,
    pcmFloat32 = 1,
    pcmFloat64 = 2,
    pcmInt16 = 3,
    pcmInt32 = 4
};

struct AudioFormat {
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    CommonFormat commonFormat = CommonFormat::pcmFloat32;
    bool interleaved = false;

    bool operator==(const AudioFormat&) const = default;

    // Bytes of one sample of one channel.
    std::size_t bytesPerSample() const;
    // e.g. "<AudioFormat 0x0: 1 ch, 48000 Hz, Float32>" -- for log lines.
    std::string description() const;
};

// A block of PCM audio. Deinterleaved formats keep one plane per channel, interleaved ones a
// single plane of frames.
class PcmBuffer {
public:
    PcmBuffer(const AudioFormat& format, std::uint32_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames);

    // The samples of one channel when the format is deinterleaved 32-bit float; null
    // otherwise (as the other platform's floatChannelData is nil).
    float* floatChannelData(std::uint32_t channel);
    const float* floatChannelData(std::uint32_t channel) const;
    // The same for deinterleaved 16-bit integers.
    std::int16_t* int16ChannelData(std::uint32_t channel);
    const std::int16_t* int16ChannelData(std::uint32_t channel) const;

    std::uint8_t* plane(std::uint32_t index) { return planes_[index].data(); }
    const std::uint8_t* plane(std::uint32_t index) const { return planes_[index].data(); }

private:
    AudioFormat format_;
    std::uint32_t frameCapacity_;
    std::uint32_t frameLength_ = 0;
    std::vector<std::vector<std::uint8_t>> planes_;
};

using PcmBufferRef = std::shared_ptr<const PcmBuffer>;

// Takes one captured buffer; the currency between captures and speech engines. Runs on
// the capture's own thread and must not block for long.
using AudioSink = std::function<void(const PcmBufferRef&)>;

} // namespace tarvine
