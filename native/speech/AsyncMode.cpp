#include "AsyncMode.h"

#include "Out.h"

#include <cstdlib>
#include <unistd.h>

namespace tarvine::AsyncMode {

namespace {

[[noreturn]] void end(int status) {
    Out::flush();
    // Engine and feeder threads may still run; nothing of theirs needs tearing down in order.
    std::_Exit(status);
}

} // namespace

void run(asio::awaitable<int> job) {
    asio::co_spawn(MainLoop::context(), std::move(job),
                   [](const std::exception_ptr& error, int status) { end(error ? 1 : status); });
    MainLoop::run();
    end(0);
}

void writeError(const std::string& text) {
    const std::string line = text + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace tarvine::AsyncMode
