#pragma once

#include <string>

namespace tarvine::SymbolIcon {

enum class SymbolWeight { regular, light, medium, semibold, bold };

// "light", "medium", "semibold" and "bold" exactly; any other name is regular.
SymbolWeight symbolWeight(const std::string& name);

// Renders a system symbol, or the SVG file `name` when it ends with ".svg", as a black shape
// on a transparent background, `pointSize` points high, at `scale` pixels per point, into a
// PNG file at `to`. Throws HelperError ("No SF Symbol or SVG named …", "Could not allocate
// bitmap", "PNG encode failed") or PlatformError when the file cannot be written.
void exportIcon(const std::string& name, double pointSize, double scale, const std::string& weight,
                const std::string& to);

} // namespace tarvine::SymbolIcon
