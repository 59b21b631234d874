#include "AudioFile.h"

#include "HelperError.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sndfile.h>
#include <vector>

namespace tarvine {

namespace {

constexpr const char* domain = "libsndfile";

// Frames through libsndfile, which wants them interleaved; deinterleaved planes are
// gathered (or scattered) through a scratch buffer.
template <class T, class Writer>
bool writeFrames(SNDFILE* file, const PcmBuffer& buffer, Writer writer) {
    const std::uint32_t channels = buffer.format().channelCount;
    const sf_count_t count = buffer.frameLength();
    if (buffer.format().interleaved || channels == 1)
        return writer(file, reinterpret_cast<const T*>(buffer.plane(0)), count) == count;
    std::vector<T> frames(static_cast<std::size_t>(count) * channels);
    for (std::uint32_t c = 0; c < channels; ++c) {
        const T* plane = reinterpret_cast<const T*>(buffer.plane(c));
        for (sf_count_t f = 0; f < count; ++f)
            frames[static_cast<std::size_t>(f) * channels + c] = plane[f];
    }
    return writer(file, frames.data(), count) == count;
}

} // namespace

AudioFile::AudioFile(SNDFILE* file, const AudioFormat& format, std::int64_t length)
    : file_(file), format_(format), length_(length) {}

AudioFile::~AudioFile() {
    sf_close(file_);
}

std::unique_ptr<AudioFile> AudioFile::forReading(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw PlatformError(domain, sf_strerror(nullptr));
    if (info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        throw PlatformError(domain, "the file holds no audio");
    }
    AudioFormat format{static_cast<double>(info.samplerate),
                       static_cast<std::uint32_t>(info.channels), CommonFormat::pcmFloat32, false};
    return std::unique_ptr<AudioFile>(new AudioFile(file, format, info.frames));
}

std::unique_ptr<AudioFile> AudioFile::forWriting(const std::string& path,
                                                 const AudioFormat& format) {
    SF_INFO info{};
    switch (format.commonFormat) {
    case CommonFormat::pcmFloat32:
        info.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
        break;
    case CommonFormat::pcmFloat64:
        info.format = SF_FORMAT_CAF | SF_FORMAT_DOUBLE;
        break;
    case CommonFormat::pcmInt16:
        info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_16;
        break;
    case CommonFormat::pcmInt32:
        info.format = SF_FORMAT_CAF | SF_FORMAT_PCM_32;
        break;
    case CommonFormat::other:
        throw PlatformError(domain, "no file format for these samples");
    }
    if (!std::isfinite(format.sampleRate) || format.sampleRate < 1 ||
        format.sampleRate > std::numeric_limits<int>::max() || format.channelCount == 0 ||
        format.channelCount > 1024)
        throw PlatformError(domain, "no file format for " + format.description());
    info.samplerate = static_cast<int>(format.sampleRate);
    info.channels = static_cast<int>(format.channelCount);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) throw PlatformError(domain, sf_strerror(nullptr));
    return std::unique_ptr<AudioFile>(new AudioFile(file, format, 0));
}

PcmBufferRef AudioFile::read(std::uint32_t frames) {
    const std::uint32_t channels = format_.channelCount;
    auto buffer = std::make_shared<PcmBuffer>(format_, frames);
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * channels);
    const sf_count_t got = sf_readf_float(file_, interleaved.data(), frames);
    if (got < static_cast<sf_count_t>(frames) && sf_error(file_) != SF_ERR_NO_ERROR)
        throw PlatformError(domain, sf_strerror(file_));
    const auto count = static_cast<std::uint32_t>(got > 0 ? got : 0);
    for (std::uint32_t c = 0; c < channels; ++c) {
        float* plane = buffer->floatChannelData(c);
        for (std::uint32_t f = 0; f < count; ++f)
            plane[f] = interleaved[static_cast<std::size_t>(f) * channels + c];
    }
    buffer->setFrameLength(count);
    return buffer;
}

std::int64_t AudioFile::framePosition() {
    const sf_count_t position = sf_seek(file_, 0, SEEK_CUR);
    return position < 0 ? 0 : position;
}

void AudioFile::setFramePosition(std::int64_t frame) {
    sf_seek(file_, frame, SEEK_SET);
}

bool AudioFile::write(const PcmBuffer& buffer) {
    if (buffer.format() != format_) return false;
    switch (format_.commonFormat) {
    case CommonFormat::pcmFloat32:
        return writeFrames<float>(file_, buffer, sf_writef_float);
    case CommonFormat::pcmFloat64:
        return writeFrames<double>(file_, buffer, sf_writef_double);
    case CommonFormat::pcmInt16:
        return writeFrames<short>(file_, buffer, sf_writef_short);
    case CommonFormat::pcmInt32:
        return writeFrames<int>(file_, buffer, sf_writef_int);
    case CommonFormat::other:
        return false;
    }
    return false;
}

} // namespace tarvine
