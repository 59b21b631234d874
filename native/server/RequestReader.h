#pragma once

#include "base/Message.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tarvine {

// Splits standard input into lines and turns each line that holds a JSON object into a
// request; every other line is dropped without a trace. Bytes arrive in chunks of any size.
class RequestReader {
public:
    using Sink = std::function<void(Message request)>;

    // A line longer than `maxLineBytes` cannot be a request the host sent: it is skipped
    // whole, so a runaway writer cannot exhaust memory.
    RequestReader(std::size_t maxLineBytes, Sink sink)
        : maxLineBytes_(maxLineBytes), sink_(std::move(sink)) {}

    void feed(std::string_view chunk);
    // The end of input: a last line without a line feed still counts.
    void finish();

    // The request a line holds, or null when it holds none.
    static Message parse(std::string_view line);

private:
    void dispatch();

    const std::size_t maxLineBytes_;
    Sink sink_;
    std::string line_;
    bool skipping_ = false; // inside an over-long line, dropping bytes up to its end
};

} // namespace tarvine
