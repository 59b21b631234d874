#pragma once

#include "Audio.h"

#include <cstdint>
#include <memory>
#include <string>

struct sf_private_tag;

namespace tarvine {

// An audio file on libsndfile (WAV, FLAC, Ogg, CAF, AIFF, MP3, ...). Read, it delivers its
// audio in the processing format: deinterleaved 32-bit float at the file's own rate and
// channel count. Written, it is a CAF file in the format it was opened with.
class AudioFile {
public:
    // Throws PlatformError with libsndfile's description when the file cannot be read.
    static std::unique_ptr<AudioFile> forReading(const std::string& path);
    // Throws PlatformError when the file cannot be created or the format has no CAF form.
    static std::unique_ptr<AudioFile> forWriting(const std::string& path,
                                                 const AudioFormat& format);
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // The format of the buffers read() gives, or that write() takes.
    const AudioFormat& processingFormat() const { return format_; }
    // Frames in a file being read.
    std::int64_t length() const { return length_; }

    // The next frames, at most `frames` of them; a buffer of no frames at the end. Throws
    // PlatformError when the file cannot be read any further (a damaged stream).
    PcmBufferRef read(std::uint32_t frames);
    // The frame that the next read() starts at, and moving it (0 plays the file again).
    std::int64_t framePosition();
    void setFramePosition(std::int64_t frame);
    // Appends the buffer, which must be in processingFormat(); false when that fails.
    bool write(const PcmBuffer& buffer);

private:
    AudioFile(sf_private_tag* file, const AudioFormat& format, std::int64_t length);

    sf_private_tag* file_;
    AudioFormat format_;
    std::int64_t length_;
};

} // namespace tarvine
