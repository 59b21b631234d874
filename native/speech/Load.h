#pragma once

#include <cstdint>

namespace tarvine::Load {

// Floods the output channel with synthetic transcript events (twelve growing partials and
// one commit per line), reports on standard error how long handing them over took, and
// returns once everything accepted has been written. A negative count is taken as zero.
void output(std::int64_t lines, int errorFd = 2);

} // namespace tarvine::Load
