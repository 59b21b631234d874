#pragma once

#include <cstdint>
#include <vector>

namespace tarvine::glass {

struct Box {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// A rectangle with rounded corners as boxes from top to bottom, in whole pixels: blur regions
// are made of rectangles only. Rows with the same inset share one box.
std::vector<Box> roundedRegion(double x, double y, double width, double height, double radius);

} // namespace tarvine::glass
