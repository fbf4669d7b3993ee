#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace krt::sim {

// What the simulator writes into every live frame, so that a test can tell which frame a
// client shows without reading the caption: a JPEG comment segment (COM, 0xFFFE) right
// after the start marker reading "krt-sim frame=<number> sentMs=<ms>". Decoders skip it.
struct FrameStamp {
    long long frameNumber = 0;  // 1 for the first frame of a stream
    std::int64_t sentMs = 0;    // the server's clock (ms since 1970) as it sent the frame

    friend bool operator==(const FrameStamp&, const FrameStamp&) = default;
};

// The most bytes a stamp adds: the segment's marker and length, its texts and two numbers of
// at most 20 characters each.
inline constexpr std::size_t kMaxFrameStampBytes = 4 + 14 + 20 + 8 + 20;

// Inserts the comment after the start marker; leaves anything that is not a JPEG alone.
void stampJpeg(std::string& jpeg, const FrameStamp& stamp);

// The stamp of a JPEG, found among the segments before the scan; nothing when there is none.
// Takes any bytes.
std::optional<FrameStamp> readFrameStamp(std::span<const char> jpeg);

}  // namespace krt::sim
