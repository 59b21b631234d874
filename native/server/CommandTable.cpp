#include "server/CommandTable.h"

#include <cstdlib>

namespace tarvine {

void CommandTable::add(std::string name, Handler handler) {
    if (!handlers_.emplace(std::move(name), std::move(handler)).second) std::abort();
}

const CommandTable::Handler* CommandTable::find(std::string_view name) const {
    auto found = handlers_.find(name);
    return found == handlers_.end() ? nullptr : &found->second;
}

} // namespace tarvine
