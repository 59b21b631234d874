#include "SpokenAudio.h"

#include "base/AudioConverter.h"
#include "base/AudioFile.h"
#include "base/HelperError.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sndfile.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvine::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "tarvine-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
}

namespace {

// Runs a program without a shell, so the text needs no quoting; its output is discarded.
bool run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec: other threads may hold locks.
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0 || dup2(null, STDERR_FILENO) < 0) _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The file's first channel at its own rate.
std::vector<float> readMono(const std::string& path, double& rate) {
    std::unique_ptr<AudioFile> file;
    try {
        file = AudioFile::forReading(path);
    } catch (const PlatformError&) {
        return {};
    }
    rate = file->processingFormat().sampleRate;
    auto buffer = file->read(static_cast<std::uint32_t>(file->length()));
    const float* first = buffer->floatChannelData(0);
    return std::vector<float>(first, first + buffer->frameLength());
}

std::vector<float> resampled(const std::vector<float>& samples, double from, double to) {
    if (from == to) return samples;
    const AudioFormat in{from, 1, CommonFormat::pcmFloat32, false};
    const AudioFormat out{to, 1, CommonFormat::pcmFloat32, false};
    auto converter = AudioConverter::make(in, out);
    PcmBuffer input(in, static_cast<std::uint32_t>(samples.size()));
    std::copy(samples.begin(), samples.end(), input.floatChannelData(0));
    input.setFrameLength(static_cast<std::uint32_t>(samples.size()));
    PcmBuffer output(out, static_cast<std::uint32_t>(samples.size() * to / from) + 4096);
    std::string error;
    std::vector<float> result;
    if (!converter || !converter->convert(input, output, error)) return result;
    result.assign(output.floatChannelData(0), output.floatChannelData(0) + output.frameLength());
    if (converter->drain(output, error))
        result.insert(result.end(), output.floatChannelData(0),
                      output.floatChannelData(0) + output.frameLength());
    return result;
}

} // namespace

std::vector<float> speak(const std::string& text) {
    TemporaryFolder folder;
    const std::string wav = folder.path() + "/speech.wav";
    if (!run({"flite", "-voice", "rms", "-t", text, "-o", wav})) return {};
    double rate = 0;
    auto samples = readMono(wav, rate);
    return resampled(samples, rate, spokenRate);
}

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(seconds * spokenRate), 0.0f);
}

void appendTo(std::vector<float>& samples, const std::vector<float>& more) {
    samples.insert(samples.end(), more.begin(), more.end());
}

std::vector<PcmBufferRef> buffersOf(const std::vector<float>& samples, const AudioFormat& format,
                                    std::uint32_t frames) {
    // Resample as one stream, then lay the frames out in the format's channels and samples.
    const auto atRate = resampled(samples, spokenRate, format.sampleRate);
    const AudioFormat mono{format.sampleRate, 1, CommonFormat::pcmFloat32, false};
    auto layout = AudioConverter::make(mono, format);
    std::vector<PcmBufferRef> buffers;
    std::string error;
    for (std::size_t start = 0; layout && start < atRate.size(); start += frames) {
        const auto count =
            static_cast<std::uint32_t>(std::min<std::size_t>(frames, atRate.size() - start));
        PcmBuffer input(mono, count);
        std::copy_n(atRate.begin() + static_cast<std::ptrdiff_t>(start), count,
                    input.floatChannelData(0));
        input.setFrameLength(count);
        auto buffer = std::make_shared<PcmBuffer>(format, count);
        if (!layout->convert(input, *buffer, error)) break;
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

bool writeWav(const std::string& path, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(spokenRate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto written =
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return written == static_cast<sf_count_t>(samples.size());
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::string cleaned;
    for (unsigned char c : text)
        cleaned += std::isalnum(c) || c == '\'' ? static_cast<char>(std::tolower(c)) : ' ';
    std::istringstream stream(cleaned);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

double wordErrorRate(const std::string& reference, const std::string& hypothesis) {
    const auto ref = wordsOf(reference);
    const auto hyp = wordsOf(hypothesis);
    if (ref.empty()) return hyp.empty() ? 0.0 : 1.0;
    // Edit distance over words, one row at a time.
    std::vector<std::size_t> row(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= hyp.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return static_cast<double>(row[hyp.size()]) / static_cast<double>(ref.size());
}

} // namespace tarvine::testing
