#pragma once

#include "base/Message.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvine {

// A request's command members, read as the type each command gives them; a missing member,
// or one of another JSON type, takes the command's default.
class Request {
public:
    explicit Request(const Message& body) : body_(body) {}

    std::int64_t integer(std::string_view key, std::int64_t fallback) const;
    bool boolean(std::string_view key, bool fallback) const;
    std::string string(std::string_view key, const std::string& fallback) const;
    // Empty unless the member is a list whose every element is an object.
    std::vector<Message> objects(std::string_view key) const;

private:
    const Message* member(std::string_view key) const;
    const Message& body_;
};

} // namespace tarvine
