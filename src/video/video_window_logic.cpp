#include "video/video_window_logic.h"

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
    if (channel.Width <= 0) {
        return std::nullopt;
    }
    const int width = std::min(areaWidth, channel.Width);
    const int height = static_cast<int>(static_cast<double>(channel.Height) /
                                        static_cast<double>(channel.Width) * width);
    return Rect{std::max((areaWidth - width) / 2, 0), std::max((areaHeight - height) / 2, 0), width,
                height};
}

bool takeFrameTurn(bool bigView, bool& frameToggle) {
    if (bigView) {
        return true;
    }
    frameToggle = !frameToggle;
    return frameToggle;
}

bool watchdogShouldReconnect(std::int64_t now_s, std::int64_t lastFrameTime_s,
                             bool connectInProgress) {
    const std::int64_t silence_s = now_s - lastFrameTime_s;
    return silence_s > kWatchdogSilence_s && !connectInProgress;
}

}  // namespace krt
