#pragma once

#include <array>
#include <string>
#include <string_view>

namespace krt {

// Stored beside the alert switches: the grid of the Videos page and whether its tiles draw
// every frame.
inline constexpr std::string_view kGridColumnsValue = "GridColumns";
inline constexpr std::string_view kLiveGridValue = "LiveGrid";

// The grids offered: 2 × 2 (the default), 3 × 3 and 4 × 4.
inline constexpr std::array<int, 3> kGridChoices{2, 3, 4};
inline constexpr int kDefaultGridColumns = 2;
inline constexpr int kLargestGridColumns = 4;

// The stored text "2", "3" or "4"; anything else (also a missing value) is the default.
int gridColumnsFromText(std::string_view text);
std::string gridColumnsText(int columns);

}  // namespace krt
