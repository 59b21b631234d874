#pragma once

#include "base/Audio.h"

#include <cstdint>
#include <string>
#include <vector>

// Speech for tests of the speech engines: sentences spoken by flite, arranged as live
// capture would deliver them.
namespace tarvine::testing {

constexpr double spokenRate = 16000;

// A folder of its own under the system's temporary folder, removed with the object.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// `text` spoken by flite's "rms" voice (the one PocketSphinx recognises best), as 16 kHz mono
// samples in [-1, 1]. Empty when flite fails.
std::vector<float> speak(const std::string& text);

std::vector<float> silence(double seconds);
void appendTo(std::vector<float>& samples, const std::vector<float>& more);

// The samples cut into consecutive buffers of `frames` frames in `format` (any rate, channel
// count and sample format), resampled the way a capture's converter would.
std::vector<PcmBufferRef> buffersOf(const std::vector<float>& samples, const AudioFormat& format,
                                    std::uint32_t frames = 2048);

// A 16 kHz mono 16-bit WAV file of the samples.
bool writeWav(const std::string& path, const std::vector<float>& samples);

// The words of a text as recognisers write them: lower case, punctuation dropped.
std::vector<std::string> wordsOf(const std::string& text);

// Word error rate of `hypothesis` against `reference`: substitutions, deletions and
// insertions over the reference's word count.
double wordErrorRate(const std::string& reference, const std::string& hypothesis);

} // namespace tarvine::testing
