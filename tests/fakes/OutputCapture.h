#pragma once

#include "Out.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvine::fakes {

// Sends the process's output into a pipe for as long as it lives and collects the lines, so
// tests can read the "log" events the code under test emitted.
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // The messages of every "log" event emitted before the call, in order.
    std::vector<std::string> logs();
    // Those containing `part`.
    std::vector<std::string> logsContaining(const std::string& part);
    // Every line emitted before the call, in order.
    std::vector<Message> messages();
    // Forgets everything read so far.
    void clear();
    // The log messages since the last take() or clear(), forgetting them.
    std::vector<std::string> take();

private:
    void readLines();
    void sync();

    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<OutputChannel> channel_;
    std::thread reader_;

    std::mutex lock_;
    std::condition_variable marked_;
    std::vector<Message> messages_;
    std::int64_t marksSent_ = 0;
    std::int64_t marksSeen_ = 0;
};

} // namespace tarvine::fakes
