#pragma once

#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>

namespace krt {

// Writes the bytes to `path` by the private file rule (writePrivateFile): a reader sees the
// previous file or the whole new one, the user's alone. The error when the file could not be
// written (no space left, ...); nothing is left behind then.
[[nodiscard]] std::error_code writeSnapshotFile(const std::filesystem::path& path,
                                                std::span<const char> bytes);

// Removes the temporary files that writers which no longer run (a crash) left in the folder,
// those of earlier versions' names too.
void removeLeftoverSnapshotParts(const std::filesystem::path& folder);

// True when the bytes start as every JPEG file does (SOI and the next marker's first byte), so
// that an error text from the server is not stored as a picture.
bool isJpeg(std::span<const char> bytes);

// True for the name of a file directly in its folder, as the journal writes them; a stored name
// that is not ("../x", an absolute path, "a/b") is never followed.
bool isPlainFileName(std::string_view name);

// Deletes the file if it exists; a missing file is fine.
void removeSnapshotFile(const std::filesystem::path& path);

}  // namespace krt
