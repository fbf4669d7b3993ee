#include "tile/video_window_logic.h"

#include <algorithm>

namespace krt {

std::string_view videoWindowText(VideoState state, bool hasChannel) {
    switch (state) {
        case VideoState::VideoPlaying:
            return {};
        case VideoState::VideoConnecting:
            return hasChannel ? "Connecting..." : "No Video";
        case VideoState::VideoIdle:
            break;
    }
    return "No Video";
}

std::optional<Rect> picturePlacement(int areaWidth, int areaHeight, const VideoChannel& channel) {
    if (channel.Width <= 0 || channel.Height <= 0) {
        return std::nullopt;
    }
    const double aspect = static_cast<double>(channel.Height) / static_cast<double>(channel.Width);
    int width = std::min(areaWidth, channel.Width);
    int height = static_cast<int>(aspect * width);
    // A picture taller than its area would lose its bottom: it is narrowed to the height.
    if (height > areaHeight) {
        height = std::max(areaHeight, 0);
        width = static_cast<int>(static_cast<double>(height) / aspect);
    }
    return Rect{std::max((areaWidth - width) / 2, 0), std::max((areaHeight - height) / 2, 0), width,
                height};
}

bool frameIsDrawn(bool bigView, bool newerFrameWaiting, std::int64_t now_ms,
                  std::int64_t nextGridDraw_ms) {
    if (newerFrameWaiting) {
        return false;
    }
    return bigView || now_ms >= nextGridDraw_ms;
}

bool watchdogShouldReconnect(std::int64_t now_s, std::int64_t lastFrameTime_s,
                             bool connectInProgress) {
    const std::int64_t silence_s = now_s - lastFrameTime_s;
    return silence_s > kWatchdogSilence_s && !connectInProgress;
}

TitleTexts titleTexts(const VideoChannel* channel) {
    if (channel == nullptr) {
        return {};
    }
    return {channel->ChannelID, channel->ChannelID + " - " + channel->ChannelDescription};
}

}  // namespace krt
