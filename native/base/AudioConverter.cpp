#include "AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <soxr.h>

namespace tarvine {

namespace {

bool convertible(const AudioFormat& format) {
    return format.sampleRate > 0 && std::isfinite(format.sampleRate) && format.channelCount > 0 &&
           format.bytesPerSample() > 0;
}

// One sample of a plane as a float in [-1, 1].
float sampleAt(const std::uint8_t* plane, std::size_t index, CommonFormat format) {
    switch (format) {
    case CommonFormat::pcmFloat32: {
        float v;
        std::memcpy(&v, plane + index * 4, 4);
        return v;
    }
    case CommonFormat::pcmFloat64: {
        double v;
        std::memcpy(&v, plane + index * 8, 8);
        return static_cast<float>(v);
    }
    case CommonFormat::pcmInt16: {
        std::int16_t v;
        std::memcpy(&v, plane + index * 2, 2);
        return static_cast<float>(v) / 32768.0f;
    }
    case CommonFormat::pcmInt32: {
        std::int32_t v;
        std::memcpy(&v, plane + index * 4, 4);
        return static_cast<float>(static_cast<double>(v) / 2147483648.0);
    }
    case CommonFormat::other:
        break;
    }
    return 0;
}

void storeSample(std::uint8_t* plane, std::size_t index, CommonFormat format, float value) {
    if (!std::isfinite(value)) value = 0;
    switch (format) {
    case CommonFormat::pcmFloat32:
        std::memcpy(plane + index * 4, &value, 4);
        break;
    case CommonFormat::pcmFloat64: {
        double v = value;
        std::memcpy(plane + index * 8, &v, 8);
        break;
    }
    case CommonFormat::pcmInt16: {
        auto v = static_cast<std::int16_t>(
            std::lround(std::clamp(value * 32768.0f, -32768.0f, 32767.0f)));
        std::memcpy(plane + index * 2, &v, 2);
        break;
    }
    case CommonFormat::pcmInt32: {
        double scaled =
            std::clamp(static_cast<double>(value) * 2147483648.0, -2147483648.0, 2147483647.0);
        auto v = static_cast<std::int32_t>(std::llround(scaled));
        std::memcpy(plane + index * 4, &v, 4);
        break;
    }
    case CommonFormat::other:
        break;
    }
}

} // namespace

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat& from,
                                                     const AudioFormat& to) {
    if (!convertible(from) || !convertible(to)) return nullptr;
    soxr* resampler = nullptr;
    if (from.sampleRate != to.sampleRate) {
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        // Medium quality is far above what speech needs and keeps the delay short.
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
        soxr_error_t error = nullptr;
        resampler = soxr_create(from.sampleRate, to.sampleRate, to.channelCount, &error, &io,
                                &quality, nullptr);
        if (error || !resampler) return nullptr;
    }
    return std::unique_ptr<AudioConverter>(new AudioConverter(from, to, resampler));
}

AudioConverter::AudioConverter(const AudioFormat& from, const AudioFormat& to, soxr* resampler)
    : from_(from), to_(to), resampler_(resampler) {}

AudioConverter::~AudioConverter() {
    if (resampler_) soxr_delete(resampler_);
}

// Appends the input to pending_ as interleaved float frames in the output's channel layout.
void AudioConverter::appendAsFloat(const PcmBuffer& input) {
    const std::uint32_t inChannels = from_.channelCount;
    const std::uint32_t outChannels = to_.channelCount;
    const std::size_t frames = input.frameLength();
    const std::size_t base = pending_.size();
    pending_.resize(base + frames * outChannels);
    float* out = pending_.data() + base;

    auto read = [&](std::uint32_t channel, std::size_t frame) {
        if (from_.interleaved)
            return sampleAt(input.plane(0), frame * inChannels + channel, from_.commonFormat);
        return sampleAt(input.plane(channel), frame, from_.commonFormat);
    };
    for (std::size_t f = 0; f < frames; ++f) {
        if (outChannels == 1 && inChannels > 1) {
            float sum = 0;
            for (std::uint32_t c = 0; c < inChannels; ++c)
                sum += read(c, f);
            out[f] = sum / static_cast<float>(inChannels);
        } else {
            for (std::uint32_t c = 0; c < outChannels; ++c) {
                std::uint32_t source = inChannels == 1 ? 0 : c;
                out[f * outChannels + c] = source < inChannels ? read(source, f) : 0.0f;
            }
        }
    }
}

// Writes interleaved float frames into the output buffer's own layout and sample format.
void AudioConverter::emit(const float* frames, std::size_t count, PcmBuffer& output) const {
    const std::uint32_t channels = to_.channelCount;
    for (std::size_t f = 0; f < count; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            float value = frames[f * channels + c];
            if (to_.interleaved)
                storeSample(output.plane(0), f * channels + c, to_.commonFormat, value);
            else
                storeSample(output.plane(c), f, to_.commonFormat, value);
        }
    }
    output.setFrameLength(static_cast<std::uint32_t>(count));
}

bool AudioConverter::resample(const float* in, std::size_t frames, PcmBuffer& output,
                              std::string& error) {
    const std::uint32_t channels = to_.channelCount;
    const std::size_t capacity = output.frameCapacity();
    scratch_.resize(capacity * channels);
    std::size_t consumed = 0;
    std::size_t produced = 0;
    soxr_error_t failure =
        soxr_process(resampler_, in, frames, &consumed, scratch_.data(), capacity, &produced);
    if (failure) {
        error = failure;
        return false;
    }
    // Input the output had no room for waits for the next call.
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(consumed * channels));
    emit(scratch_.data(), produced, output);
    return true;
}

bool AudioConverter::convert(const PcmBuffer& input, PcmBuffer& output, std::string& error) {
    if (input.format() != from_ || output.format() != to_) {
        error = "buffer format does not match the converter";
        return false;
    }
    appendAsFloat(input);
    const std::size_t frames = pending_.size() / to_.channelCount;
    if (!resampler_) {
        const std::size_t count = std::min<std::size_t>(frames, output.frameCapacity());
        emit(pending_.data(), count, output);
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(count * to_.channelCount));
        return true;
    }
    return resample(pending_.data(), frames, output, error);
}

bool AudioConverter::drain(PcmBuffer& output, std::string& error) {
    if (output.format() != to_) {
        error = "buffer format does not match the converter";
        return false;
    }
    if (!resampler_) {
        const std::size_t count =
            std::min<std::size_t>(pending_.size() / to_.channelCount, output.frameCapacity());
        emit(pending_.data(), count, output);
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(count * to_.channelCount));
        return true;
    }
    // A null input tells soxr that the stream has ended.
    const std::size_t capacity = output.frameCapacity();
    scratch_.resize(capacity * to_.channelCount);
    std::size_t produced = 0;
    soxr_error_t failure =
        soxr_process(resampler_, nullptr, 0, nullptr, scratch_.data(), capacity, &produced);
    if (failure) {
        error = failure;
        return false;
    }
    emit(scratch_.data(), produced, output);
    return true;
}

} // namespace tarvine
