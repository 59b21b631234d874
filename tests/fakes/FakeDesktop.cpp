#include "FakeDesktop.h"

#include <algorithm>

namespace tarvine::fakes {

void FakePasteboard::copy(platform::PasteboardItem item) {
    contents = {std::move(item)};
    ++changes;
}

void FakePasteboard::copyText(const std::string& text,
                              std::vector<platform::PasteboardData> extras) {
    platform::PasteboardItem item = {{"UTF8_STRING", text, {}}};
    for (auto& extra : extras)
        item.push_back(std::move(extra));
    copy(std::move(item));
}

asio::awaitable<std::vector<std::string>> FakePasteboard::types() {
    std::vector<std::string> names;
    for (const auto& item : contents)
        for (const auto& d : item)
            names.push_back(d.type);
    co_return names;
}

asio::awaitable<std::optional<std::string>> FakePasteboard::string() {
    co_return co_await data("UTF8_STRING");
}

asio::awaitable<std::optional<std::string>> FakePasteboard::data(std::string type) {
    for (const auto& item : contents)
        for (const auto& d : item)
            if (d.type == type) co_return d.bytes;
    co_return std::nullopt;
}

asio::awaitable<std::vector<platform::PasteboardItem>> FakePasteboard::items() {
    co_return contents;
}

asio::awaitable<bool> FakePasteboard::write(std::vector<platform::PasteboardItem> items) {
    contents = std::move(items);
    writes.push_back(contents);
    ++changes;
    co_return true;
}

asio::awaitable<bool> FakePasteboard::writeString(std::string text,
                                                  std::vector<platform::PasteboardData> extras) {
    platform::PasteboardItem item = {{"UTF8_STRING", std::move(text), {}}};
    for (auto& extra : extras)
        item.push_back(std::move(extra));
    std::vector<platform::PasteboardItem> items;
    items.push_back(std::move(item));
    co_return co_await write(std::move(items));
}

asio::awaitable<bool> FakeKeyboardOutput::post(platform::KeyEvent event) {
    events.push_back(event);
    if (onPost) onPost(events.back());
    co_return true;
}

std::uint64_t FakeKeyboardOutput::modifierFlags() {
    const auto at = std::min<std::size_t>(std::size_t(flagReads), flags.size() - 1);
    ++flagReads;
    return flags[at];
}

} // namespace tarvine::fakes
