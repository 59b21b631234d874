#pragma once

#include <optional>
#include <string>

namespace tarvine::platform {

// The desktop's catalogue of system symbols: named monochrome icons drawn as SVG.
class SymbolCatalog {
public:
    virtual ~SymbolCatalog() = default;

    // The SVG file that draws the symbol of that name, or nothing when there is none.
    virtual std::optional<std::string> symbolFile(const std::string& name) = 0;
};

} // namespace tarvine::platform
