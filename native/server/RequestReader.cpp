#include "server/RequestReader.h"

namespace tarvine {

namespace {

struct TooDeep {};

// Requests are shallow; a line nested deeper than this is not one, and building it would
// cost memory and time out of all proportion (a line of ten million brackets).
constexpr int maxDepth = 256;

} // namespace

Message RequestReader::parse(std::string_view line) {
    // A request is an object: anything else is skipped before the parser builds it.
    auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || line[first] != '{') return nullptr;
    try {
        Message request = Message::parse(
            line,
            [](int depth, Message::parse_event_t, Message&) {
                if (depth > maxDepth) throw TooDeep{};
                return true;
            },
            false);
        return request.is_object() ? request : Message(nullptr);
    } catch (const TooDeep&) {
        return nullptr;
    }
}

void RequestReader::feed(std::string_view chunk) {
    while (!chunk.empty()) {
        auto end = chunk.find('\n');
        std::string_view piece = chunk.substr(0, end);
        if (!skipping_) {
            if (line_.size() + piece.size() > maxLineBytes_) {
                skipping_ = true;
                line_.clear();
                line_.shrink_to_fit();
            } else {
                line_.append(piece);
            }
        }
        if (end == std::string_view::npos) return;
        if (!skipping_) dispatch();
        line_.clear();
        skipping_ = false;
        chunk.remove_prefix(end + 1);
    }
}

void RequestReader::finish() {
    if (!skipping_ && !line_.empty()) dispatch();
    line_.clear();
    skipping_ = false;
}

void RequestReader::dispatch() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    Message request = parse(line_);
    if (request.is_object()) sink_(std::move(request));
}

} // namespace tarvine
