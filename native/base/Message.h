#pragma once

#include <nlohmann/json.hpp>

namespace tarvine {

// A reply or an event: a JSON object with string keys. Replies carry "ok" (and "id" when the
// request had one); events carry "type".
using Message = nlohmann::json;

} // namespace tarvine
