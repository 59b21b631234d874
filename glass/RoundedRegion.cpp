#include "RoundedRegion.h"

#include <algorithm>
#include <cmath>

namespace tarvine::glass {

namespace {

// How far row `row` (0 = the outermost) lies inside the rectangle's side at a corner of radius r.
std::int64_t insetOfRow(std::int64_t row, double r) {
    double dy = r - (static_cast<double>(row) + 0.5);
    if (dy <= 0) return 0;
    return std::llround(r - std::sqrt(std::max(0.0, r * r - dy * dy)));
}

// Rows [first, first + count) sharing `inset`, as one box.
Box band(std::int64_t left, std::int64_t top, std::int64_t width, std::int64_t inset,
         std::int64_t first, std::int64_t count) {
    return Box{static_cast<std::int32_t>(left + inset), static_cast<std::int32_t>(top + first),
               static_cast<std::uint32_t>(width - 2 * inset), static_cast<std::uint32_t>(count)};
}

} // namespace

std::vector<Box> roundedRegion(double x, double y, double width, double height, double radius) {
    std::int64_t left = std::llround(x), top = std::llround(y);
    std::int64_t w = std::llround(width), h = std::llround(height);
    if (w <= 0 || h <= 0) return {};
    double r = std::clamp(std::isfinite(radius) ? radius : 0.0, 0.0,
                          static_cast<double>(std::min(w, h)) / 2.0);
    auto cornerRows = static_cast<std::int64_t>(std::ceil(r));

    // Bands of the top corners, outermost first; the bottom corners mirror them.
    std::vector<std::pair<std::int64_t, std::int64_t>> bands; // (inset, rows)
    for (std::int64_t row = 0; row < cornerRows; ++row) {
        std::int64_t inset = insetOfRow(row, r);
        if (!bands.empty() && bands.back().first == inset)
            ++bands.back().second;
        else
            bands.emplace_back(inset, 1);
    }
    if (!bands.empty() && bands.back().first == 0) {
        // Rows that reach the sides belong to the middle box.
        cornerRows -= bands.back().second;
        bands.pop_back();
    }

    std::vector<Box> boxes;
    std::int64_t row = 0;
    for (auto [inset, rows] : bands) {
        boxes.push_back(band(left, top, w, inset, row, rows));
        row += rows;
    }
    if (h > 2 * cornerRows) boxes.push_back(band(left, top, w, 0, cornerRows, h - 2 * cornerRows));
    row = h - cornerRows;
    for (auto it = bands.rbegin(); it != bands.rend(); ++it) {
        boxes.push_back(band(left, top, w, it->first, row, it->second));
        row += it->second;
    }
    return boxes;
}

} // namespace tarvine::glass
