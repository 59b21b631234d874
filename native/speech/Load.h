#pragma once

#include "base/Events.h"
#include "base/MainLoop.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvine::Load {

// Floods the output channel with synthetic transcript events (twelve growing partials and
// one commit per line), reports on standard error how long handing them over took, and
// returns once everything accepted has been written. A negative count is taken as zero.
void output(std::int64_t lines, int errorFd = 2);

// Plays the file at `path` in a loop, in real time, into two live analyzer streams ("Me" and
// "Them") for `seconds`; every 30 s, and once more after finishing both streams, reports on
// `errorFd` the time, the process's footprint and the commits and failures counted. Throws the
// errors of AnalyzerStream::start() unchanged. Run on the main loop.
asio::awaitable<void> soak(std::string path, std::string locale, std::int64_t seconds,
                           Events& events, int errorFd = 2);

// The physical footprint of this process in bytes: resident memory other than clean shared
// pages (the mapped program and libraries); 0 when it cannot be read.
std::uint64_t footprint();

// The `soak` mode: returns only for a usage error.
int soakMode(const std::vector<std::string>& args);

} // namespace tarvine::Load
