// The request reader on arbitrary bytes cut into arbitrary chunks, as reads from a pipe cut
// them: it must return, never crash or hang, and hand on only objects whose members read
// safely.
// seeds: tests/fixtures/requests/*
#include "server/Request.h"
#include "server/RequestReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the chunk size; a small line limit lets over-long lines happen.
    const std::size_t chunk = 1 + data[0] % 64;
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    tarvine::RequestReader reader(512, [](tarvine::Message request) {
        if (!request.is_object()) __builtin_trap();
        tarvine::Request members(request);
        members.integer("id", 0);
        members.boolean("paused", true);
        members.string("cmd", "");
        members.objects("items");
    });
    while (!input.empty()) {
        const std::size_t piece = std::min(chunk, input.size());
        reader.feed(input.substr(0, piece));
        input.remove_prefix(piece);
    }
    reader.finish();
    return 0;
}
