#include "tile/tile_status.h"

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace krt {
namespace {

constexpr std::int64_t kNow_ms = 1'000'000;

TEST(StalePicture, AfterThreeSecondsOrThreeFrameIntervalsWhicheverIsLonger) {
    struct Case {
        std::int64_t silence_ms;
        std::optional<std::int64_t> frameInterval_ms;
        bool stale;
    };
    for (const Case& c : {
             Case{0, 100, false},
             Case{2'999, 100, false},
             Case{3'000, 100, true},
             Case{3'000, std::nullopt, true},  // a single frame so far
             Case{2'999, std::nullopt, false},
             Case{3'000, 1'000, true},
             Case{5'999, 2'000, false},  // a camera of one frame every 2 s
             Case{6'000, 2'000, true},
             Case{60'000, 100, true},
         }) {
        EXPECT_EQ(pictureIsStale(kNow_ms, kNow_ms - c.silence_ms, c.frameInterval_ms), c.stale)
            << c.silence_ms << " ms silent, interval " << c.frameInterval_ms.value_or(-1);
    }
}

TEST(FrameIntervals, TheMedianOfTheLastFiveAndNothingAcrossStreams) {
    FrameIntervals intervals;
    EXPECT_EQ(intervals.typical_ms(), std::nullopt);
    std::int64_t at_ms = 0;
    const auto frames = [&](std::vector<std::int64_t> gaps) {
        for (const std::int64_t gap : gaps) {
            at_ms += gap;
            intervals.frameArrived(at_ms);
        }
    };
    frames({0});
    EXPECT_EQ(intervals.typical_ms(), std::nullopt);
    frames({100});
    EXPECT_EQ(intervals.typical_ms(), 100);
    // One late frame among steady ones does not count; a camera that slows down does.
    frames({100, 2'000, 100});
    EXPECT_EQ(intervals.typical_ms(), 100);
    frames({500, 500, 500});
    EXPECT_EQ(intervals.typical_ms(), 500);
    intervals.restart();
    EXPECT_EQ(intervals.typical_ms(), std::nullopt);
    frames({30'000, 40});
    EXPECT_EQ(intervals.typical_ms(), 40);
}

std::string clockText(std::int64_t calendar_s) {
    const auto time = static_cast<std::time_t>(calendar_s);
    std::tm local{};
    localtime_r(&time, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

TEST(TileStatus, MarkCaptionAndToolTipFollowTheFramesAndTheReconnecting) {
    constexpr std::int64_t kCalendar_s = 1'800'000'000;
    const std::string since = "No video since " + clockText(kCalendar_s);
    struct Case {
        const char* what;
        std::optional<std::int64_t> silence_ms;  // none: no frame yet
        ReconnectState reconnect;
        TileMark mark;
        std::string caption;
        std::string toolTipStart;
    };
    const ReconnectState waiting{3, false, kNow_ms + 1'200, StreamLoss::Unreachable};
    const ReconnectState connecting{1, true, std::nullopt, StreamLoss::Closed};
    for (const Case& c : {
             Case{"first connect", std::nullopt, {}, TileMark::Connecting, "", "Connecting..."},
             Case{"first connect retried", std::nullopt, waiting, TileMark::Connecting,
                  "Reconnecting in 2 s (attempt 3)",
                  "Connecting...\nReconnecting in 2 s (attempt 3)\nLast loss: the server cannot "
                  "be reached\n"},
             Case{"live", 80, {}, TileMark::Playing, "", "Playing at 10 fps\n"},
             Case{"closed a moment ago", 200, connecting, TileMark::Playing,
                  "Reconnecting (attempt 1)...", "Playing at 10 fps\nReconnecting (attempt 1)..."},
             Case{"silent but open",
                  3'000,
                  {},
                  TileMark::NoVideo,
                  since + "\nReconnecting after 10 s without video",
                  since},
             Case{"lost and waiting", 5'000, waiting, TileMark::NoVideo,
                  since + "\nReconnecting in 2 s (attempt 3)", since},
         }) {
        TileStatusInput input;
        input.state = VideoState::VideoPlaying;
        input.hasChannel = true;
        input.now_ms = kNow_ms;
        if (c.silence_ms) {
            input.lastFrame_ms = kNow_ms - *c.silence_ms;
        }
        input.lastFrameCalendar_s = kCalendar_s;
        input.frameInterval_ms = 100;
        input.reconnect = c.reconnect;
        input.watchdogReconnects = 2;
        const TileStatus status = tileStatus(input);
        EXPECT_EQ(status.mark, c.mark) << c.what;
        EXPECT_EQ(status.stale, c.mark == TileMark::NoVideo) << c.what;
        EXPECT_EQ(status.caption, c.caption) << c.what;
        EXPECT_EQ(status.toolTip.rfind(c.toolTipStart, 0), 0u) << c.what << ": " << status.toolTip;
        EXPECT_TRUE(status.toolTip.ends_with("\nReconnects by the watchdog: 2")) << c.what;
    }
    // A tile that shows nothing says nothing.
    TileStatusInput idle;
    idle.hasChannel = true;
    idle.lastFrame_ms = 0;
    EXPECT_EQ(tileStatus(idle), TileStatus{});
    TileStatusInput noChannel;
    noChannel.state = VideoState::VideoConnecting;
    EXPECT_EQ(tileStatus(noChannel), TileStatus{});
}

}  // namespace
}  // namespace krt
