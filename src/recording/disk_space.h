#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace krt {

// The size of the file system a recording writes on, and what of it the user may still fill.
struct DiskSpace {
    std::uint64_t total_bytes = 0;
    std::uint64_t free_bytes = 0;
};

// The space of the file system that holds the folder; nothing when it cannot be told.
std::optional<DiskSpace> diskSpaceOf(const std::filesystem::path& folder);
using DiskSpaceQuery = std::function<std::optional<DiskSpace>(const std::filesystem::path&)>;

// What a recording leaves free for the rest of the system: the last 1 GiB, or the last 5% of a
// disk smaller than 20 GiB.
inline constexpr std::uint64_t kReservedSpaceCeiling_bytes = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kReservedSpaceShare = 20;  // 5%
std::uint64_t reservedSpace_bytes(std::uint64_t total_bytes);
bool recordingMustStop(const DiskSpace& space);

// "The disk of <folder> is nearly full (812.0 MiB left; recordings leave the last 1.0 GiB
// free)."
std::string nearlyFullText(const std::filesystem::path& folder, const DiskSpace& space);

// "812.0 MiB", "12.5 KiB", "300 bytes".
std::string byteSizeText(std::uint64_t bytes);

}  // namespace krt
