#include "Capture.h"

#include <unistd.h>

namespace tarvine::Capture {

std::set<std::int32_t>& excludedPIDs() {
    static std::set<std::int32_t> pids{static_cast<std::int32_t>(::getpid())};
    return pids;
}

} // namespace tarvine::Capture
