#pragma once

#include "base/Message.h"
#include "platform/EventTap.h"

#include <asio/awaitable.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvine {

// Expands abbreviations as the user types anywhere: a listen-only tap keeps the last
// characters typed, and when they end with a known abbreviation, the abbreviation is erased
// with Delete presses and the content inserted with the paste. Main loop only.
class Snippets {
public:
    struct Expansion {
        std::string abbreviation;
        std::string content;
    };
    struct TextReplacement {
        std::string abbreviation;
        std::string content;
    };
    // Inserts text into the application in front; false when it may not.
    using Paste = std::function<asio::awaitable<bool>(std::string text)>;

    explicit Snippets(Paste paste) : paste_(std::move(paste)) {}

    // Replaces the snippet list; true when the tap exists.
    bool set(const std::vector<Message>& items);
    void handle(const platform::InputEvent& event);
    // Posts `count` Delete presses.
    static void erase(std::size_t count);

    // The user's system text replacements, or nothing when their database cannot be read.
    static std::optional<std::vector<TextReplacement>> macTextReplacements();

    const std::vector<Expansion>& expansions() const { return expansions_; }
    const std::string& buffer() const { return buffer_; }
    bool expanding() const { return expanding_; }

private:
    void handleKey(const platform::InputEvent& event);
    void append(const std::string& text);
    const Expansion* match() const;
    void start(const Expansion& expansion);
    asio::awaitable<void> expand(std::size_t length, std::string content);

    Paste paste_;
    std::vector<Expansion> expansions_;
    std::unique_ptr<platform::EventTap> tap_;
    std::string buffer_; // at most `bufferLimit` characters, canonically composed
    bool expanding_ = false;
};

} // namespace tarvine
