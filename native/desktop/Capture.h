#pragma once

#include <cstdint>
#include <set>

namespace tarvine::Capture {

// Processes whose windows screenshots leave out. Always holds this process's own id; serve
// start-up adds the host's choice before any request is read, and nothing removes one.
std::set<std::int32_t>& excludedPIDs();

} // namespace tarvine::Capture
