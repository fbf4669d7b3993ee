#pragma once

#include <filesystem>
#include <span>

namespace krt {

// Writes the bytes to `path` through a temporary file in the same folder that is then renamed
// into place, so that a reader sees either the previous file or the whole new one. False when
// the file could not be written; nothing is left behind then.
bool writeSnapshotFile(const std::filesystem::path& path, std::span<const char> bytes);

// Deletes the file if it exists; a missing file is fine.
void removeSnapshotFile(const std::filesystem::path& path);

}  // namespace krt
