#include "KeepAlive.h"

#include <csignal>

namespace tarvine {

KeepAlive::KeepAlive() {
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace tarvine
