#include "TextCommands.h"

#include "Dictation.h"

namespace tarvine {

void TextCommands::registerIn(CommandTable& table) {
    table.add("frontmost", frontmost);
    table.add("paste", paste);
}

asio::awaitable<Reply> TextCommands::frontmost(const Request&) {
    Message reply = co_await Dictation::frontmost();
    reply["ok"] = true;
    co_return reply;
}

asio::awaitable<Reply> TextCommands::paste(const Request& request) {
    // Built before it is awaited: GCC 12 mishandles temporaries inside a co_await.
    auto work = Dictation::paste(request.string("text", ""));
    if (co_await std::move(work)) co_return Message{{"ok", true}};
    co_return Message{{"ok", false},
                      {"error", "Tarvine needs Accessibility permission to type into other apps."}};
}

} // namespace tarvine
