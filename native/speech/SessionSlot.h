#pragma once

#include "base/Message.h"
#include "speech/Transcriber.h"

#include <asio/awaitable.hpp>
#include <memory>

namespace tarvine {

// Opens a session that already sits in `slot` and gives its start command's reply. A failed
// session is stopped and leaves the slot only if it still holds it: a newer one is kept.
asio::awaitable<Message> openInSlot(std::shared_ptr<Transcriber>& slot,
                                    std::shared_ptr<Transcriber> session);

} // namespace tarvine
