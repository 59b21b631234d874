#include "FakePlatform.h"

namespace tarvine::fakes {

FakeIntegration& installFakePlatform() {
    auto fake = std::make_unique<FakeIntegration>();
    FakeIntegration& ref = *fake;
    platform::install(std::move(fake));
    return ref;
}

} // namespace tarvine::fakes
