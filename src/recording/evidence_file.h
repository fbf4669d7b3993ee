#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "common/video_channel.h"

namespace krt {

// Whether a file put in place may replace one that already has its name.
enum class ExistingFile { Keep, Replace };

// Where a file is written before it takes its name: the name with ".part" added, so that a
// file under its own name is always whole.
std::filesystem::path temporaryPath(const std::filesystem::path& path);

// The path with a number before its extension: "a.mkv" and 2 give "a (2).mkv".
std::filesystem::path numberedPath(const std::filesystem::path& path, int number);

// Renames `from` to `to`; with ExistingFile::Keep to the first of `to`, "to (2)", ... that no
// file has, never replacing one. The name taken, or nothing with `error` set.
std::optional<std::filesystem::path> moveIntoPlace(const std::filesystem::path& from,
                                                   const std::filesystem::path& to,
                                                   ExistingFile existing, std::error_code& error);

// Writes the bytes to the temporary path and moves them into place as moveIntoPlace does. A
// failed write leaves no file. The name taken, or nothing with `error` set.
std::optional<std::filesystem::path> saveFile(const std::filesystem::path& path,
                                              std::span<const unsigned char> bytes,
                                              ExistingFile existing, std::error_code& error);

// The folder made if it is missing; false with `error` set when it cannot be.
bool makeFolder(const std::filesystem::path& folder, std::error_code& error);

// A camera's name as part of a file name: no folder separators, characters that a shared disk
// refuses (: * ? " < > |), control, bidirectional or invisible format characters (each becomes
// '_'), not hidden, at most 80 bytes; "camera" when nothing is left.
std::string fileNamePart(std::string_view text);

// The name a camera's snapshots and clips carry: its description, or its ID without one.
std::string cameraName(const VideoChannel& channel);

// What a snapshot or a clip of the camera is called: "Gate 2024-05-01 14-22-31.123.jpg", the
// local time of `time` to the millisecond. `extension` without its dot.
std::string evidenceFileName(std::string_view cameraName,
                             std::chrono::system_clock::time_point time,
                             std::string_view extension);

}  // namespace krt
