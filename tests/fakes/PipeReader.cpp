#include "PipeReader.h"

#include <unistd.h>

namespace tarvine::fakes {

PipeReader::PipeReader() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

PipeReader::~PipeReader() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    if (drainer_.joinable()) drainer_.join();
    if (fds_[0] >= 0) ::close(fds_[0]);
}

void PipeReader::start() {
    drainer_ = std::thread([this] {
        char buffer[65536];
        for (;;) {
            ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
            if (n <= 0) return;
            data_.append(buffer, static_cast<std::size_t>(n));
        }
    });
}

void PipeReader::closeReadEnd() {
    ::close(fds_[0]);
    fds_[0] = -1;
}

std::vector<std::string> PipeReader::finish() {
    ::close(fds_[1]);
    fds_[1] = -1;
    if (drainer_.joinable()) drainer_.join();
    return splitLines(data_);
}

std::vector<std::string> PipeReader::splitLines(const std::string& data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(data.substr(start, end - start));
    if (start < data.size()) lines.push_back(data.substr(start)); // an unterminated tail
    return lines;
}

} // namespace tarvine::fakes
