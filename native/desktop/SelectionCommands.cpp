#include "SelectionCommands.h"

#include "Selection.h"

#include <limits>

namespace tarvine {

namespace {

// A pid that no 32-bit process id can be is taken as the default, 0: no application has it.
std::int32_t pidMember(const Request& request) {
    const auto value = request.integer("pid", 0);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(value);
}

} // namespace

void SelectionCommands::registerIn(CommandTable& table) {
    table.add("selection.read", read);
    table.add("selection.replace", replace);
}

asio::awaitable<Reply> SelectionCommands::read(const Request&) {
    std::string error;
    try {
        auto selected = co_await Selection::read();
        co_return Message{{"ok", true}, {"text", selected.text}, {"pid", selected.pid}};
    } catch (const Selection::ReadError& e) {
        error = e.what();
    } catch (...) {
        error = "no-selection";
    }
    co_return Message{{"ok", false}, {"error", error}};
}

asio::awaitable<Reply> SelectionCommands::replace(const Request& request) {
    bool failed = false;
    bool pasted = false;
    try {
        auto work = Selection::replace(request.string("text", ""), pidMember(request));
        pasted = co_await std::move(work);
    } catch (...) {
        failed = true;
    }
    if (failed) co_return Message{{"ok", false}, {"error", "accessibility"}};
    co_return Message{{"ok", true}, {"pasted", pasted}};
}

} // namespace tarvine
