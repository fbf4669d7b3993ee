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

// Where snapshots and clips go (missing: KRT in the user's pictures folder) and how long a
// recording may run, in whole minutes.
inline constexpr std::string_view kEvidenceFolderValue = "EvidenceFolder";
inline constexpr std::string_view kRecordingMinutesValue = "MaxRecordingMinutes";
inline constexpr int kDefaultRecordingMinutes = 10;
inline constexpr int kLongestRecordingMinutes = 24 * 60;

struct EvidenceSettings {
    std::string folder;
    int maxRecordingMinutes = kDefaultRecordingMinutes;

    bool operator==(const EvidenceSettings&) const = default;
};

// The stored minutes, 1 to 1440 in decimal digits; anything else (also a missing value) is the
// default.
int recordingMinutesFromText(std::string_view text);

}  // namespace krt
