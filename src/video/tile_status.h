#pragma once

#include <cstdint>
#include <string>

#include "video/video_window_logic.h"

namespace krt {

// The small mark in a tile's title bar.
enum class TileMark { None, Connecting, Playing, NoVideo };

struct TileStatusInput {
    VideoState state = VideoState::VideoIdle;
    bool hasChannel = false;
    int framesPerSecond = 0;
    std::int64_t lastFrameTime_s = 0;  // calendar seconds, 0 before the first frame
    std::int64_t now_s = 0;
    int watchdogReconnects = 0;
};

struct TileStatus {
    TileMark mark = TileMark::None;
    std::string toolTip;

    bool operator==(const TileStatus&) const = default;
};

// A tile that has had no frame for longer than this shows "no video" rather than "playing".
inline constexpr std::int64_t kTileSilence_s = 2;

TileStatus tileStatus(const TileStatusInput& input);

// Frames per second from two readings of a frame counter, rounded.
int framesPerSecond(int framesBefore, int framesNow, std::int64_t elapsed_ms);

}  // namespace krt
