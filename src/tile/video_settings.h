#pragma once

#include <string>

#include "common/settings_table.h"

namespace krt {

inline constexpr int kDefaultGridColumns = settingSpec(Setting::GridColumns).fallback;
inline constexpr int kLargestGridColumns = settingSpec(Setting::GridColumns).most;

// Where snapshots and clips go and how long a recording may run, in whole minutes.
struct EvidenceSettings {
    std::string folder;
    int maxRecordingMinutes = settingSpec(Setting::MaxRecordingMinutes).fallback;

    bool operator==(const EvidenceSettings&) const = default;
};

}  // namespace krt
