#include "AssetModes.h"

#include "Arguments.h"
#include "Extract.h"
#include "SymbolIcon.h"
#include "base/HelperError.h"

#include <unistd.h>

namespace tarvine::AssetModes {

namespace {

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

int fail(const std::string& line) {
    writeAll(2, line + "\n");
    return 1;
}

} // namespace

int extract(const std::vector<std::string>& args) {
    if (args.size() < 3) return fail("usage: tarvine-native extract <file>");
    auto text = Extract::text(args[2]);
    if (!text) return 2;
    writeAll(1, *text);
    return 0;
}

int icon(const std::vector<std::string>& args) {
    std::optional<double> pointSize;
    if (args.size() >= 5) pointSize = Arguments::parseDouble(args[3]);
    if (!pointSize)
        return fail("usage: tarvine-native icon <symbol> <pt> <out.png> [scale] [weight]");
    double scale = 1;
    if (args.size() >= 6)
        if (auto given = Arguments::parseDouble(args[5])) scale = *given;
    std::string weight = args.size() >= 7 ? args[6] : "regular";
    try {
        SymbolIcon::exportIcon(args[2], *pointSize, scale, weight, args[4]);
    } catch (const std::exception& error) {
        return fail(describe(error));
    }
    return 0;
}

} // namespace tarvine::AssetModes
