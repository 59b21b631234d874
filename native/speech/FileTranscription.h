#pragma once

#include "base/Events.h"
#include "base/MainLoop.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Transcription of one audio file on the analyzer engine, and the `transcribe` mode.
namespace tarvine::FileTranscription {

// What one run gathers. Touched only on the main loop, by the stream's callbacks.
struct Parts {
    std::vector<std::string> items; // every final segment, in commit order
    std::string partial;            // the most recent non-empty volatile text

    // The items joined by single spaces; without any, "(partial) " and the volatile text.
    std::string transcript() const;
};

// Told on the feeding thread how far into the file the run has read.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void advanced(std::int64_t position, std::int64_t length, double sampleRate) = 0;
};

// Frames read from the file per block.
inline constexpr std::uint32_t blockFrames = 4096;
// Blocks that may wait for the engine before reading pauses: a long file must not sit in
// memory while the engine catches up (about 6 s of 44.1 kHz audio).
inline constexpr std::size_t pendingLimit = 64;

// Transcribes the file at `path` with the engine for `locale`. Throws the file's errors
// (opening, reading) and those of AnalyzerStream::start() unchanged. Run on the main loop.
asio::awaitable<std::string> run(std::string path, std::string locale, Events& events,
                                 Progress* progress = nullptr);

// "x% m:ss / m:ss" (h:mm:ss for files of an hour or more); empty for an empty file.
std::string progressText(std::int64_t position, std::int64_t length, double sampleRate);

// The `transcribe` mode: returns only for a usage error.
int transcribeMode(const std::vector<std::string>& args);

} // namespace tarvine::FileTranscription
