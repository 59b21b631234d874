#pragma once

#include <string>
#include <thread>
#include <vector>

namespace tarvine::fakes {

// A pipe whose write end stands in for standard output; a thread collects what arrives once
// started, so that a test can first let the pipe fill up.
class PipeReader {
public:
    PipeReader();
    ~PipeReader();
    PipeReader(const PipeReader&) = delete;
    PipeReader& operator=(const PipeReader&) = delete;

    int writeEnd() const { return fds_[1]; }

    // Starts draining in the background.
    void start();
    // Closes the read end: later writes fail with EPIPE.
    void closeReadEnd();
    // Everything written so far, split into lines (each without its line feed). Closes the
    // write end first, so call it only after the writer is done.
    std::vector<std::string> finish();
    std::string raw() const { return data_; }
    static std::vector<std::string> splitLines(const std::string& data);

private:
    int fds_[2];
    std::thread drainer_;
    std::string data_;
};

} // namespace tarvine::fakes
