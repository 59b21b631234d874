#pragma once

#include "base/Message.h"

#include <string>

namespace tarvine {

// Where a subsystem sends what the host hears unasked: protocol events and "log" lines.
// Serve mode hands every subsystem the one that writes to standard output; unit tests hand
// them a recording one. Callable from any thread.
class Events {
public:
    virtual ~Events() = default;

    virtual void emit(const Message& event) = 0;

    // {"type": "log", "message": message}
    void log(const std::string& message) { emit(Message{{"type", "log"}, {"message", message}}); }
};

} // namespace tarvine
