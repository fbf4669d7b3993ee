#include "recording/disk_space.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace krt {

std::optional<DiskSpace> diskSpaceOf(const std::filesystem::path& folder) {
    struct statvfs status {};
    if (::statvfs(folder.c_str(), &status) != 0) {
        return std::nullopt;
    }
    // What an unprivileged writer may still take, not the blocks kept for root.
    return DiskSpace{std::uint64_t{status.f_blocks} * status.f_frsize,
                     std::uint64_t{status.f_bavail} * status.f_frsize};
}

std::uint64_t reservedSpace_bytes(std::uint64_t total_bytes) {
    return std::min(kReservedSpaceCeiling_bytes, total_bytes / kReservedSpaceShare);
}

bool recordingMustStop(const DiskSpace& space) {
    return space.free_bytes <= reservedSpace_bytes(space.total_bytes);
}

std::string nearlyFullText(const std::filesystem::path& folder, const DiskSpace& space) {
    return "The disk of " + folder.string() + " is nearly full (" + byteSizeText(space.free_bytes) +
           " left; recordings leave the last " +
           byteSizeText(reservedSpace_bytes(space.total_bytes)) + " free).";
}

std::string byteSizeText(std::uint64_t bytes) {
    constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    double size = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (size >= 1024 && unit + 1 < kUnits.size()) {
        size /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", size, kUnits[unit]);
    return text;
}

}  // namespace krt
