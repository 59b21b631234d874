// The Html reader on arbitrary bytes: it must return, never crash or hang.
// seeds: tests/fixtures/documents/*.html
#include "assets/Readers.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvine::Readers::htmlText(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
