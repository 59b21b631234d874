#pragma once

#include <chrono>

namespace tarvine::adapters::atspi {

// Other applications' user interfaces can be read when the accessibility bus of the
// session is reachable: the session bus names it and it accepts a connection.
bool accessibilityBusReachable(std::chrono::milliseconds limit);

} // namespace tarvine::adapters::atspi
