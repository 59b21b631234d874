#include "RecordingEvents.h"

namespace tarvine::fakes {

namespace {
std::vector<std::string> logMessages(const std::vector<Message>& messages) {
    std::vector<std::string> lines;
    for (const auto& message : messages)
        if (message.is_object() && message.value("type", "") == "log")
            lines.push_back(message.value("message", ""));
    return lines;
}
} // namespace

void RecordingEvents::emit(const Message& event) {
    std::lock_guard guard(lock_);
    messages_.push_back(event);
}

std::vector<Message> RecordingEvents::messages() {
    std::lock_guard guard(lock_);
    return messages_;
}

std::vector<std::string> RecordingEvents::logs() {
    std::lock_guard guard(lock_);
    return logMessages(messages_);
}

std::vector<std::string> RecordingEvents::logsContaining(const std::string& part) {
    std::vector<std::string> matching;
    for (auto& line : logs())
        if (line.find(part) != std::string::npos) matching.push_back(std::move(line));
    return matching;
}

std::vector<std::string> RecordingEvents::take() {
    std::lock_guard guard(lock_);
    auto lines = logMessages(messages_);
    messages_.clear();
    return lines;
}

void RecordingEvents::clear() {
    std::lock_guard guard(lock_);
    messages_.clear();
}

} // namespace tarvine::fakes
