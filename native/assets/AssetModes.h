#pragma once

#include <string>
#include <vector>

namespace tarvine::AssetModes {

// `extract <file>`: the document's text on standard output; 2 when there is none.
int extract(const std::vector<std::string>& args);

// `icon <symbol> <pt> <out.png> [scale] [weight]`: a black PNG icon at the output path.
int icon(const std::vector<std::string>& args);

} // namespace tarvine::AssetModes
