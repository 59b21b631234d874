#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvine::platform {

// The focused element of an application, as the accessibility service describes it.
struct FocusedElement {
    // A secure (password) text field.
    bool secure = false;
    // Its selected text; absent when it has none or the query failed.
    std::optional<std::string> selectedText;
};

// Reading other applications' user interfaces. The calls block for a bounded time; callers
// run them off the main loop.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // This process may read other applications' user interfaces.
    virtual bool trusted() = 0;
    // The focused element of the application with this process id, or none.
    virtual std::optional<FocusedElement> focusedElement(std::int32_t pid) = 0;
    // Secure keyboard entry: another client holds the keyboard (a password prompt).
    virtual bool secureEventInput() = 0;
};

} // namespace tarvine::platform
