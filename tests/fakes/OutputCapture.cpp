#include "OutputCapture.h"

#include <stdexcept>
#include <unistd.h>

namespace tarvine::fakes {

namespace {
constexpr const char* markType = "test.mark";
}

OutputCapture::OutputCapture() {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
    channel_ = std::make_unique<OutputChannel>(writeEnd_);
    reader_ = std::thread([this] { readLines(); });
    Out::redirect(channel_.get());
}

OutputCapture::~OutputCapture() {
    Out::redirect(nullptr);
    channel_.reset(); // writes what is queued
    ::close(writeEnd_);
    reader_.join();
    ::close(readEnd_);
}

void OutputCapture::readLines() {
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(readEnd_, chunk, sizeof chunk);
        if (got <= 0) return;
        pending.append(chunk, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            Message message = Message::parse(pending.substr(0, end), nullptr, false);
            pending.erase(0, end + 1);
            std::lock_guard guard(lock_);
            if (message.is_object() && message.value("type", "") == markType) {
                marksSeen_ = message.value("n", std::int64_t{0});
                marked_.notify_all();
            } else {
                messages_.push_back(std::move(message));
            }
        }
    }
}

// Everything emitted before a mark is written before it, so once the mark is read back the
// earlier lines are in.
void OutputCapture::sync() {
    std::int64_t mark;
    {
        std::lock_guard guard(lock_);
        mark = ++marksSent_;
    }
    channel_->emit(Message{{"type", markType}, {"n", mark}});
    std::unique_lock guard(lock_);
    marked_.wait(guard, [&] { return marksSeen_ >= mark; });
}

namespace {
std::vector<std::string> logMessages(const std::vector<Message>& messages) {
    std::vector<std::string> lines;
    for (const auto& message : messages)
        if (message.is_object() && message.value("type", "") == "log")
            lines.push_back(message.value("message", ""));
    return lines;
}
} // namespace

std::vector<std::string> OutputCapture::logs() {
    sync();
    std::lock_guard guard(lock_);
    return logMessages(messages_);
}

std::vector<std::string> OutputCapture::logsContaining(const std::string& part) {
    std::vector<std::string> matching;
    for (auto& line : logs())
        if (line.find(part) != std::string::npos) matching.push_back(std::move(line));
    return matching;
}

std::vector<Message> OutputCapture::messages() {
    sync();
    std::lock_guard guard(lock_);
    return messages_;
}

std::vector<std::string> OutputCapture::take() {
    sync();
    std::lock_guard guard(lock_);
    auto lines = logMessages(messages_);
    messages_.clear();
    return lines;
}

void OutputCapture::clear() {
    sync();
    std::lock_guard guard(lock_);
    messages_.clear();
}

} // namespace tarvine::fakes
