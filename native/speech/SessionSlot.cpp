#include "speech/SessionSlot.h"

#include "base/HelperError.h"

namespace tarvine {

asio::awaitable<Message> openInSlot(std::shared_ptr<Transcriber>& slot,
                                    std::shared_ptr<Transcriber> session) {
    std::string failure;
    bool failed = false;
    try {
        co_await session->open();
    } catch (...) {
        failed = true;
        failure = errorMessage(std::current_exception());
    }
    if (failed) {
        co_await session->stop();
        if (slot == session) slot.reset();
        co_return Message{{"ok", false}, {"error", failure}};
    }
    // A stop or a newer start during open() may have missed what open() started after it.
    if (session->stopped()) co_await session->stop();
    co_return Message{{"ok", true}};
}

} // namespace tarvine
