#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvine::platform {

// One representation of a pasteboard item: a type and the bytes stored for it.
struct PasteboardData {
    std::string type;
    std::string bytes;
    // How the platform labelled the bytes, kept so that a restore hands them out exactly as
    // they were read; empty for the platform's default for the type.
    std::string encoding;

    bool operator==(const PasteboardData&) const = default;
};

// An item: its representations, in the order the pasteboard listed them.
using PasteboardItem = std::vector<PasteboardData>;

// The general pasteboard (the desktop's clipboard). Main loop only. Every read from another
// application is bounded in time: an application that never answers costs a short wait and
// reads as missing data, never a hang.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Grows by at least one every time the contents change (also by our own writes).
    virtual std::int64_t changeCount() = 0;

    // The types the pasteboard offers now; empty when it is empty.
    virtual asio::awaitable<std::vector<std::string>> types() = 0;
    // The pasteboard's plain-text string, if it has one.
    virtual asio::awaitable<std::optional<std::string>> string() = 0;
    // The data of one type, if the pasteboard has it.
    virtual asio::awaitable<std::optional<std::string>> data(std::string type) = 0;
    // Every item with the data of each of its types; types whose data cannot be read are
    // left out.
    virtual asio::awaitable<std::vector<PasteboardItem>> items() = 0;

    // Replaces the contents with `items`, exactly as given (an empty list leaves the
    // pasteboard empty). False when the pasteboard could not be taken.
    virtual asio::awaitable<bool> write(std::vector<PasteboardItem> items) = 0;
    // Replaces the contents with one item: `text` as the plain-text string, plus `extras`.
    virtual asio::awaitable<bool> writeString(std::string text,
                                              std::vector<PasteboardData> extras) = 0;
};

} // namespace tarvine::platform
