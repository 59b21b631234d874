// Heavy headers shared by nearly every translation unit; precompiled once per target.
#pragma once

#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
