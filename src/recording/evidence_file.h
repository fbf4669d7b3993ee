#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "common/private_file.h"
#include "common/video_channel.h"

namespace krt {

// Whether a file put in place may replace one that already has its name.
enum class ExistingFile { Keep, Replace };

// The path with a number before its extension: "a.mkv" and 2 give "a (2).mkv".
std::filesystem::path numberedPath(const std::filesystem::path& path, int number);

// Gives the whole file written its name `path`; with ExistingFile::Keep the first of `path`,
// "path (2)", ... that no file has, never replacing one. The name taken, or nothing with `error`
// set; the temporary file is gone either way.
std::optional<std::filesystem::path> commitEvidence(PrivateTemporaryFile& file,
                                                    const std::filesystem::path& path,
                                                    ExistingFile existing, std::error_code& error);

// Writes the bytes as a file of the user's alone and commits it as commitEvidence does. A
// failed write leaves no file. The name taken, or nothing with `error` set.
std::optional<std::filesystem::path> saveFile(const std::filesystem::path& path,
                                              std::span<const unsigned char> bytes,
                                              ExistingFile existing, std::error_code& error);

// A camera's name as part of a file name: no folder separators, characters that a shared disk
// refuses (: * ? " < > |), control, bidirectional or invisible format characters (each becomes
// '_'), not hidden, at most 80 bytes; "camera" when nothing is left.
std::string fileNamePart(std::string_view text);

// The name a camera's snapshots and clips carry: its description, or its ID without one;
// after the name of its server where that is one of the operator's list ("Site B - Gate"), so
// that two servers' cameras of one name never share a name.
std::string cameraName(const VideoChannel& channel, std::string_view serverName = {});

// What a snapshot or a clip of the camera is called: "Gate 2024-05-01 14-22-31.123.jpg", the
// local time of `time` to the millisecond. `extension` without its dot.
std::string evidenceFileName(std::string_view cameraName,
                             std::chrono::system_clock::time_point time,
                             std::string_view extension);

}  // namespace krt
