#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace krt::test {

struct ClipFrame {
    std::vector<unsigned char> bytes;
    std::int64_t time_ms = 0;
};

// What FFmpeg's demuxer reads from a clip.
struct ClipContents {
    std::string format;  // the demuxer's name
    std::string codec;
    int width = 0;
    int height = 0;
    std::string title;
    double duration_s = 0;
    std::vector<ClipFrame> frames;
};

// The clip read back with libavformat; nothing when it does not open as a media file.
std::optional<ClipContents> readClip(const std::filesystem::path& path);

}  // namespace krt::test
