#include "server/Request.h"

#include <cmath>

namespace tarvine {

const Message* Request::member(std::string_view key) const {
    if (!body_.is_object()) return nullptr;
    auto found = body_.find(key);
    return found == body_.end() ? nullptr : &*found;
}

std::int64_t Request::integer(std::string_view key, std::int64_t fallback) const {
    const Message* value = member(key);
    if (!value) return fallback;
    if (value->is_number_integer()) {
        if (value->is_number_unsigned() &&
            value->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
            return fallback;
        return value->get<std::int64_t>();
    }
    if (value->is_number_float()) {
        // A whole number written with a fraction or exponent (3.0, 1e3) is still that integer.
        double number = value->get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9.2e18 &&
            number <= 9.2e18)
            return static_cast<std::int64_t>(number);
    }
    return fallback;
}

bool Request::boolean(std::string_view key, bool fallback) const {
    const Message* value = member(key);
    return value && value->is_boolean() ? value->get<bool>() : fallback;
}

std::string Request::string(std::string_view key, const std::string& fallback) const {
    const Message* value = member(key);
    return value && value->is_string() ? value->get<std::string>() : fallback;
}

std::vector<Message> Request::objects(std::string_view key) const {
    const Message* value = member(key);
    std::vector<Message> out;
    if (!value || !value->is_array()) return out;
    for (const auto& item : *value) {
        if (!item.is_object()) return {};
        out.push_back(item);
    }
    return out;
}

} // namespace tarvine
