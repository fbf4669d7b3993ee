#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "stream/reconnect_backoff.h"
#include "tile/video_window_logic.h"

namespace krt {

// The small mark in a tile's title bar.
enum class TileMark { None, Connecting, Playing, NoVideo };

// A picture is stale once no frame has come for 3 s, or for three frame intervals of its
// camera when that is longer: a slow camera is not stale between two of its frames.
inline constexpr std::int64_t kStaleAfter_ms = 3000;
inline constexpr int kStaleFrameIntervals = 3;
std::int64_t staleAfter_ms(std::optional<std::int64_t> frameInterval_ms);
bool pictureIsStale(std::int64_t now_ms, std::int64_t lastFrame_ms,
                    std::optional<std::int64_t> frameInterval_ms);

// The typical time between the frames of one stream: the median of the last few intervals,
// so that one late frame does not change it. Nothing before the second frame.
class FrameIntervals {
  public:
    void frameArrived(std::int64_t now_ms);
    // A new stream: the gap before its first frame is no interval of the camera.
    void restart();
    std::optional<std::int64_t> typical_ms() const;

  private:
    static constexpr std::size_t kKept = 5;
    std::array<std::int64_t, kKept> m_intervals{};
    std::size_t m_kept = 0;
    std::size_t m_next = 0;
    std::optional<std::int64_t> m_previous_ms;
};

// Where the reconnecting of a lost stream stands.
struct ReconnectState {
    int attempt = 0;  // attempts since the stream was lost, this one included; 0 while it runs
    bool connecting = false;                     // that attempt is under way
    std::optional<std::int64_t> nextAttempt_ms;  // when the next one is due (steady clock)
    std::optional<StreamLoss> lastLoss;

    bool operator==(const ReconnectState&) const = default;
};

struct TileStatusInput {
    VideoState state = VideoState::VideoIdle;
    bool hasChannel = false;
    std::int64_t now_ms = 0;                   // steady clock
    std::optional<std::int64_t> lastFrame_ms;  // steady clock; none before the channel's first
    std::int64_t lastFrameCalendar_s = 0;      // the same moment on the calendar clock
    std::optional<std::int64_t> frameInterval_ms;
    ReconnectState reconnect;
    int watchdogReconnects = 0;
};

struct TileStatus {
    TileMark mark = TileMark::None;
    bool stale = false;  // the picture is shown dimmed and greyed
    // Written over the picture area, lines apart by '\n': since when there is no video and
    // how the reconnecting goes. Empty while the video is live.
    std::string caption;
    std::string toolTip;

    bool operator==(const TileStatus&) const = default;
};

TileStatus tileStatus(const TileStatusInput& input);

// "No video since 14:02:11", the local time of the last frame.
std::string noVideoSinceText(std::int64_t lastFrameCalendar_s);

}  // namespace krt
