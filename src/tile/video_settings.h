#pragma once

#include <string>

#include "common/settings_table.h"

namespace krt {

inline constexpr int kDefaultGridColumns = settingRow(Setting::GridColumns).fallback;
inline constexpr int kLargestGridColumns = settingRow(Setting::GridColumns).most;

// Where snapshots and clips go and how long a recording may run, in whole minutes.
struct EvidenceSettings {
    std::string folder;
    int maxRecordingMinutes = settingRow(Setting::MaxRecordingMinutes).fallback;

    bool operator==(const EvidenceSettings&) const = default;
};

}  // namespace krt
