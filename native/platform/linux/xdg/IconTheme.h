#pragma once

#include "platform/SymbolCatalog.h"

namespace tarvine::adapters::xdg {

// System symbols from the freedesktop icon theme: the user's GTK icon theme (else Adwaita)
// and the themes it inherits, then Adwaita and hicolor. A symbolic icon ("<name>-symbolic")
// comes first, then the themes' scalable icon of the name itself. Only SVG icons count.
class IconThemeSymbols : public platform::SymbolCatalog {
public:
    std::optional<std::string> symbolFile(const std::string& name) override;
};

} // namespace tarvine::adapters::xdg
