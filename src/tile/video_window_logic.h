#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/video_channel.h"
#include "media/geometry.h"

namespace krt {

// What a video tile shows.
enum class VideoState { VideoIdle = 0, VideoConnecting = 1, VideoPlaying = 2 };

// "No Video", "Connecting..." (connecting with a channel) or nothing while playing.
std::string_view videoWindowText(VideoState state, bool hasChannel);

// Where a picture of the channel goes in a picture area of that size: as wide as the area
// allows but never wider than the channel, its height by the channel's aspect, narrower when
// the area is not high enough for that, centred. Nothing for a channel without a width or a
// height, whose picture has no defined shape.
std::optional<Rect> picturePlacement(int areaWidth, int areaHeight, const VideoChannel& channel);

// Whether a received frame is decoded and drawn. A tile shows the newest frame that has
// arrived, so a frame with a newer one already waiting is never drawn; otherwise the single
// view draws every frame, and the grid one frame per throttle period: the first that arrives
// once `nextGridDraw_ms` (steady clock) has come.
bool frameIsDrawn(bool bigView, bool newerFrameWaiting, std::int64_t now_ms,
                  std::int64_t nextGridDraw_ms);

// The watchdog reconnects after more than 10 s without a frame, unless a connect is under way
// or the clock went back.
inline constexpr std::int64_t kWatchdogSilence_s = 10;
bool watchdogShouldReconnect(std::int64_t now_s, std::int64_t lastFrameTime_s,
                             bool connectInProgress);

// The two names of a tile's title bar: the ChannelID alone for the grid, "ID - Description"
// for the single view. Both empty without a channel.
struct TitleTexts {
    std::string shortText;
    std::string longText;

    bool operator==(const TitleTexts&) const = default;
};
TitleTexts titleTexts(const VideoChannel* channel);

}  // namespace krt
