#pragma once

namespace tarvine {

// Keeps serve mode alive for the host: the session's quit request (SIGHUP) is refused, and
// a host that closes its end of a pipe cannot kill the process with SIGPIPE. The process
// ends only when its standard input ends.
class KeepAlive {
public:
    KeepAlive();
};

} // namespace tarvine
