#pragma once

#include "base/Events.h"

#include <mutex>
#include <string>
#include <vector>

namespace tarvine::fakes {

// An events sink that keeps what it is given, for tests to read back. Any thread.
class RecordingEvents : public Events {
public:
    void emit(const Message& event) override;

    // Every message emitted so far, in order.
    std::vector<Message> messages();
    // The messages of the "log" events, in order; those containing `part`.
    std::vector<std::string> logs();
    std::vector<std::string> logsContaining(const std::string& part);
    // The log messages since the last take() or clear(), forgetting everything.
    std::vector<std::string> take();
    void clear();

private:
    std::mutex lock_;
    std::vector<Message> messages_;
};

} // namespace tarvine::fakes
