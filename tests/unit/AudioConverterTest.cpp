#include "base/AudioConverter.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>

using namespace tarvine;

namespace {

const AudioFormat mono48k{48000, 1, CommonFormat::pcmFloat32, false};
const AudioFormat mono16kInt{16000, 1, CommonFormat::pcmInt16, false};

PcmBuffer sine(const AudioFormat& format, std::uint32_t frames, double hz,
               std::uint32_t offset = 0) {
    PcmBuffer buffer(format, frames);
    for (std::uint32_t c = 0; c < format.channelCount; ++c)
        for (std::uint32_t f = 0; f < frames; ++f)
            buffer.floatChannelData(c)[f] = static_cast<float>(
                0.5 * std::sin(2 * std::numbers::pi * hz * (f + offset) / format.sampleRate));
    buffer.setFrameLength(frames);
    return buffer;
}

} // namespace

TEST(AudioConverter, RefusesFormatsWithoutRateChannelsOrSamples) {
    EXPECT_FALSE(AudioConverter::make({0, 1}, mono16kInt));
    EXPECT_FALSE(AudioConverter::make({48000, 0}, mono16kInt));
    EXPECT_FALSE(AudioConverter::make({48000, 1, CommonFormat::other}, mono16kInt));
    EXPECT_TRUE(AudioConverter::make(mono48k, mono16kInt));
}

TEST(AudioConverter, ResamplesAStreamWithoutLosingFrames) {
    auto converter = AudioConverter::make(mono48k, mono16kInt);
    ASSERT_TRUE(converter);
    std::string error;
    std::size_t total = 0;
    double energy = 0;
    for (int i = 0; i < 50; ++i) {
        PcmBuffer input = sine(mono48k, 2048, 440, static_cast<std::uint32_t>(i) * 2048);
        PcmBuffer output(mono16kInt, 2048 / 3 + 64);
        ASSERT_TRUE(converter->convert(input, output, error)) << error;
        total += output.frameLength();
        for (std::uint32_t f = 0; f < output.frameLength(); ++f)
            energy += std::pow(output.int16ChannelData(0)[f] / 32768.0, 2);
    }
    // The resampler's delay holds back a few frames until the stream is drained.
    const double expected = 50 * 2048 / 3.0;
    EXPECT_GT(total, expected - 1000);
    PcmBuffer tail(mono16kInt, 2048);
    ASSERT_TRUE(converter->drain(tail, error)) << error;
    total += tail.frameLength();
    EXPECT_NEAR(static_cast<double>(total), expected, 2.0);
    // A sine of amplitude 0.5 has a mean square of 0.125.
    EXPECT_NEAR(energy / static_cast<double>(total), 0.125, 0.01);
}

TEST(AudioConverter, MixesChannelsAndConvertsSamplesAtTheSameRate) {
    const AudioFormat stereoInt{16000, 2, CommonFormat::pcmInt16, true};
    const AudioFormat monoFloat{16000, 1, CommonFormat::pcmFloat32, false};
    auto converter = AudioConverter::make(stereoInt, monoFloat);
    ASSERT_TRUE(converter);
    PcmBuffer input(stereoInt, 4);
    const std::int16_t samples[] = {16384, 0, -32768, -32768, 32767, 32767, 0, 0};
    std::memcpy(input.plane(0), samples, sizeof samples);
    input.setFrameLength(4);
    PcmBuffer output(monoFloat, 4);
    std::string error;
    ASSERT_TRUE(converter->convert(input, output, error));
    ASSERT_EQ(output.frameLength(), 4u);
    EXPECT_FLOAT_EQ(output.floatChannelData(0)[0], 0.25f);
    EXPECT_FLOAT_EQ(output.floatChannelData(0)[1], -1.0f);
    EXPECT_NEAR(output.floatChannelData(0)[2], 1.0f, 1e-4);
    EXPECT_FLOAT_EQ(output.floatChannelData(0)[3], 0.0f);
}

TEST(AudioConverter, KeepsInputThatDoesNotFitForTheNextCall) {
    auto converter = AudioConverter::make(mono48k, {48000, 1, CommonFormat::pcmInt16, false});
    PcmBuffer input = sine(mono48k, 100, 100);
    PcmBuffer small({48000, 1, CommonFormat::pcmInt16, false}, 60);
    std::string error;
    ASSERT_TRUE(converter->convert(input, small, error));
    EXPECT_EQ(small.frameLength(), 60u);
    ASSERT_TRUE(converter->drain(small, error));
    EXPECT_EQ(small.frameLength(), 40u);
}

TEST(AudioConverter, RejectsBuffersOfAnotherFormat) {
    auto converter = AudioConverter::make(mono48k, mono16kInt);
    PcmBuffer wrong = sine({44100, 1}, 10, 100);
    PcmBuffer output(mono16kInt, 100);
    std::string error;
    EXPECT_FALSE(converter->convert(wrong, output, error));
    EXPECT_FALSE(error.empty());
}
