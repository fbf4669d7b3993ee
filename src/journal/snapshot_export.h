#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include <chrono>

namespace krt {

// "<camera>-<YYYYMMDD-HHMMSS>.jpg" for the event's own time; characters of the camera that
// have no place in a file name become '_'.
std::string snapshotSaveName(std::string_view channelId,
                             std::chrono::system_clock::time_point eventTime);

// Writes the snapshot exactly as received. False when the file cannot be written there;
// nothing is left behind then.
bool saveSnapshotCopy(const std::filesystem::path& path, std::span<const char> bytes);

// Copies a kept snapshot file to `to` by the private file rule, replacing what is there; the
// error when it cannot be read or written (nothing is left behind then).
[[nodiscard]] std::error_code copySnapshotFile(const std::filesystem::path& from,
                                               const std::filesystem::path& to);

}  // namespace krt
