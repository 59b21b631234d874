#pragma once

#include "base/MainLoop.h"

#include <string>

// The frame of the one-shot modes that work asynchronously (transcribe, soak).
namespace tarvine::AsyncMode {

// Starts `job` on the main loop and parks the calling thread in the loop for good. When the
// job returns its exit status, everything queued on the output channel is written and the
// process ends with that status; a job that throws ends it with 1.
[[noreturn]] void run(asio::awaitable<int> job);

// `text` and a newline on standard error.
void writeError(const std::string& text);

} // namespace tarvine::AsyncMode
