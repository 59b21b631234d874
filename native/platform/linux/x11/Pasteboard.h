#pragma once

#include "platform/Pasteboard.h"

#include <memory>

namespace tarvine::adapters::x11 {

// The CLIPBOARD selection as the general pasteboard: XFixes owner-change events count the
// changes, TARGETS are the types, UTF8_STRING is the plain string, and writing means owning
// the selection from a hidden window of ours and serving the written targets (INCR for large
// data) until another client takes it. Runs on the main loop, which watches its connection.
std::unique_ptr<platform::Pasteboard> makePasteboard();

} // namespace tarvine::adapters::x11
