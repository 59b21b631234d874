#include "Platform.h"

#include <cstdlib>

namespace tarvine::platform {

namespace {
std::unique_ptr<Integration>& installed() {
    static std::unique_ptr<Integration> current;
    return current;
}
} // namespace

Integration& integration() {
    if (!installed()) std::abort();
    return *installed();
}

void install(std::unique_ptr<Integration> platform) {
    installed() = std::move(platform);
}

} // namespace tarvine::platform
