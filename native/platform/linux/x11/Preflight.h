#pragma once

namespace tarvine::adapters::x11 {

// The screen can be captured when the display is reachable.
bool screenCapturePreflight();

// Input can be listened to when the display offers XInput 2.
bool inputMonitoringPreflight();

} // namespace tarvine::adapters::x11
