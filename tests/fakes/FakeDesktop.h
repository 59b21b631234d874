#pragma once

#include "platform/Accessibility.h"
#include "platform/KeyboardOutput.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

#include <functional>
#include <optional>
#include <vector>

namespace tarvine::fakes {

// A pasteboard in memory: one item or none, a change count that every write moves.
class FakePasteboard : public platform::Pasteboard {
public:
    std::int64_t changes = 0;
    std::vector<platform::PasteboardItem> contents;
    // Every write, in order.
    std::vector<std::vector<platform::PasteboardItem>> writes;

    // A copy by another application.
    void copy(platform::PasteboardItem item);
    void copyText(const std::string& text, std::vector<platform::PasteboardData> extras = {});

    std::int64_t changeCount() override { return changes; }
    asio::awaitable<std::vector<std::string>> types() override;
    asio::awaitable<std::optional<std::string>> string() override;
    asio::awaitable<std::optional<std::string>> data(std::string type) override;
    asio::awaitable<std::vector<platform::PasteboardItem>> items() override;
    asio::awaitable<bool> write(std::vector<platform::PasteboardItem> items) override;
    asio::awaitable<bool> writeString(std::string text,
                                      std::vector<platform::PasteboardData> extras) override;
};

// Records the events it is given; `onPost` lets a test play the application that gets them.
class FakeKeyboardOutput : public platform::KeyboardOutput {
public:
    std::vector<platform::KeyEvent> events;
    std::function<void(const platform::KeyEvent&)> onPost;
    // The modifier flags read, one per call; the last one stays.
    std::vector<std::uint64_t> flags = {0};
    int flagReads = 0;

    asio::awaitable<bool> post(platform::KeyEvent event) override;
    std::uint64_t modifierFlags() override;
};

class FakeAccessibility : public platform::Accessibility {
public:
    bool isTrusted = true;
    bool secureInput = false;
    std::optional<platform::FocusedElement> focused;
    std::vector<std::int32_t> askedPIDs;

    bool trusted() override { return isTrusted; }
    std::optional<platform::FocusedElement> focusedElement(std::int32_t pid) override {
        askedPIDs.push_back(pid);
        return focused;
    }
    bool secureEventInput() override { return secureInput; }
};

class FakeWorkspace : public platform::Workspace {
public:
    std::optional<platform::RunningApplication> frontmost;
    std::optional<platform::RunningApplication> frontmostApplication(bool withIcon) override {
        auto app = frontmost;
        if (app && !withIcon) app->icon.reset();
        return app;
    }
};

} // namespace tarvine::fakes
