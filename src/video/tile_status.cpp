#include "video/tile_status.h"

#include <array>
#include <ctime>

namespace krt {
namespace {

std::string localClockText(std::int64_t calendar_s) {
    const auto time = static_cast<std::time_t>(calendar_s);
    std::tm local{};
    localtime_r(&time, &local);
    std::array<char, 16> text{};
    std::strftime(text.data(), text.size(), "%H:%M:%S", &local);
    return text.data();
}

}  // namespace

TileStatus tileStatus(const TileStatusInput& input) {
    if (!input.hasChannel || input.state == VideoState::VideoIdle) {
        return {};
    }
    TileStatus status;
    const bool silent = input.now_s - input.lastFrameTime_s > kTileSilence_s;
    if (input.lastFrameTime_s == 0) {
        status = {TileMark::Connecting, "Connecting..."};
    } else if (silent) {
        status = {TileMark::NoVideo, "No video since " + localClockText(input.lastFrameTime_s)};
    } else {
        status = {TileMark::Playing,
                  "Playing at " + std::to_string(input.framesPerSecond) + " fps"};
    }
    status.toolTip += "\nReconnects by the watchdog: " + std::to_string(input.watchdogReconnects);
    return status;
}

int framesPerSecond(int framesBefore, int framesNow, std::int64_t elapsed_ms) {
    if (elapsed_ms <= 0 || framesNow < framesBefore) {
        return 0;
    }
    return static_cast<int>(
        (static_cast<std::int64_t>(framesNow - framesBefore) * 1000 + elapsed_ms / 2) / elapsed_ms);
}

}  // namespace krt
