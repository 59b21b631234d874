#include "Modes.h"
#include "base/Heap.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxIntegration.h"

#include <csignal>

int main(int argc, char** argv) {
    tarvine::Heap::keepFreedMemoryReturnable();
    // A reader that goes away must never end the process through a write.
    std::signal(SIGPIPE, SIG_IGN);
    tarvine::platform::install(tarvine::adapters::makeIntegration());
    return tarvine::Modes::run(std::vector<std::string>(argv, argv + argc));
}
