#include "server/SystemCommands.h"

#include "PermissionReport.h"
#include "base/MainLoop.h"
#include "platform/Platform.h"

namespace tarvine {

void SystemCommands::registerIn(CommandTable& table) {
    table.add("ping", ping);
    table.add("permissions", permissions);
}

asio::awaitable<Reply> SystemCommands::ping(const Request&) {
    co_return Message{{"ok", true}};
}

asio::awaitable<Reply> SystemCommands::permissions(const Request&) {
    // The checks talk to other services; they must not hold up the main loop.
    Message report = co_await MainLoop::offload(
        [] { return permissionReport(platform::integration().permissions()); });
    report["ok"] = true;
    co_return report;
}

} // namespace tarvine
