#include "base/AudioFile.h"

#include "base/HelperError.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace tarvine;

namespace {

std::string temporaryPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + name)).string();
}

} // namespace

TEST(AudioFile, WhatIsWrittenReadsBackInTheProcessingFormat) {
    const std::string path = temporaryPath("-roundtrip.caf");
    const AudioFormat stereo16{22050, 2, CommonFormat::pcmInt16, false};
    {
        auto file = AudioFile::forWriting(path, stereo16);
        PcmBuffer buffer(stereo16, 100);
        for (int f = 0; f < 100; ++f) {
            buffer.int16ChannelData(0)[f] = static_cast<std::int16_t>(f * 100);
            buffer.int16ChannelData(1)[f] = static_cast<std::int16_t>(-f * 100);
        }
        buffer.setFrameLength(100);
        ASSERT_TRUE(file->write(buffer));
        ASSERT_TRUE(file->write(buffer));
        EXPECT_FALSE(file->write(PcmBuffer({22050, 1}, 10))) << "a buffer of another format";
    }
    auto file = AudioFile::forReading(path);
    EXPECT_EQ(file->processingFormat(), (AudioFormat{22050, 2, CommonFormat::pcmFloat32, false}));
    EXPECT_EQ(file->length(), 200);
    auto first = file->read(150);
    ASSERT_EQ(first->frameLength(), 150u);
    EXPECT_FLOAT_EQ(first->floatChannelData(0)[99], 9900 / 32768.0f);
    EXPECT_FLOAT_EQ(first->floatChannelData(1)[99], -9900 / 32768.0f);
    EXPECT_FLOAT_EQ(first->floatChannelData(0)[100], 0.0f) << "the second buffer starts again";
    EXPECT_EQ(file->read(150)->frameLength(), 50u);
    EXPECT_EQ(file->read(150)->frameLength(), 0u);
    std::remove(path.c_str());
}

TEST(AudioFile, UnreadableFilesAndUnwritableFormatsAreErrors) {
    EXPECT_THROW(AudioFile::forReading("/nonexistent/file.wav"), PlatformError);
    const std::string junk = temporaryPath("-junk.wav");
    if (FILE* f = std::fopen(junk.c_str(), "w")) {
        std::fputs("not audio at all", f);
        std::fclose(f);
    }
    EXPECT_THROW(AudioFile::forReading(junk), PlatformError);
    std::remove(junk.c_str());
    EXPECT_THROW(AudioFile::forWriting(temporaryPath("-x.caf"), {0, 1}), PlatformError);
    EXPECT_THROW(AudioFile::forWriting(temporaryPath("-y.caf"), {16000, 1, CommonFormat::other}),
                 PlatformError);
    EXPECT_THROW(AudioFile::forWriting("/nonexistent/dir/z.caf", {16000, 1}), PlatformError);
}
