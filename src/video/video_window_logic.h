#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/video_channel.h"
#include "video/video_layout.h"

namespace krt {

// What a video tile shows.
enum class VideoState { VideoIdle = 0, VideoConnecting = 1, VideoPlaying = 2 };

// "No Video", "Connecting..." (connecting with a channel) or nothing while playing.
std::string_view videoWindowText(VideoState state, bool hasChannel);

// Where a picture of the channel goes in a picture area of that size: as wide as the area
// allows but never wider than the channel, its height by the channel's aspect, centred.
// Nothing for a channel without a width, whose picture has no defined height.
std::optional<Rect> picturePlacement(int areaWidth, int areaHeight, const VideoChannel& channel);

// The grid view draws every second frame only, starting with the first; the single view
// draws all. Returns whether this frame is drawn and advances the toggle.
bool takeFrameTurn(bool bigView, bool& frameToggle);

// The watchdog reconnects after more than 10 s without a frame, unless a connect is under way
// or the clock went back.
inline constexpr std::int64_t kWatchdogSilence_s = 10;
bool watchdogShouldReconnect(std::int64_t now_s, std::int64_t lastFrameTime_s,
                             bool connectInProgress);

}  // namespace krt
