#include "tile/video_window_logic.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

VideoChannel channelOfSize(int width, int height) {
    VideoChannel channel;
    channel.ChannelID = "7";
    channel.Width = width;
    channel.Height = height;
    channel.DetailsLoaded = true;
    return channel;
}

struct PlacementCase {
    const char* name;
    int areaWidth;
    int areaHeight;
    int channelWidth;
    int channelHeight;
    std::optional<Rect> placement;
};

void PrintTo(const PlacementCase& c, std::ostream* out) {
    *out << c.name;
}

class PicturePlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(PicturePlacement, FitsTheWidthAndCentres) {
    const PlacementCase& c = GetParam();
    EXPECT_EQ(
        picturePlacement(c.areaWidth, c.areaHeight, channelOfSize(c.channelWidth, c.channelHeight)),
        c.placement);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PicturePlacement,
    testing::Values(PlacementCase{"NarrowTile", 160, 135, 320, 240, Rect{0, 7, 160, 120}},
                    PlacementCase{"NeverWiderThanTheChannel", 400, 300, 320, 240,
                                  Rect{40, 30, 320, 240}},
                    // 200 wide would be 163 high: the area's 100 high is 122 wide.
                    PlacementCase{"TallerThanTheArea", 200, 100, 352, 288, Rect{39, 0, 122, 100}},
                    PlacementCase{"NoWidth", 160, 135, 0, 240, std::nullopt}),
    [](const testing::TestParamInfo<PlacementCase>& param) { return param.param.name; });

TEST(FrameTurn, OnlyTheNewestFrameAndInTheGridOnePerThrottlePeriod) {
    const struct {
        bool bigView;
        bool newerWaiting;
        std::int64_t now_ms;
        bool drawn;
    } cases[] = {
        {true, false, 0, true},     {true, false, 999, true},    // single view: every frame
        {true, true, 999, false},   {false, true, 5000, false},  // a newer one waits
        {false, false, 999, false}, {false, false, 1000, true},  // grid: due at 1000
        {false, false, 4000, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameIsDrawn(c.bigView, c.newerWaiting, c.now_ms, 1000), c.drawn)
            << "big " << c.bigView << " newer " << c.newerWaiting << " at " << c.now_ms;
    }
}

TEST(Watchdog, ReconnectsOnlyAfterMoreThanTenSilentSeconds) {
    const struct {
        std::int64_t now;
        std::int64_t lastFrame;
        bool connecting;
        bool reconnect;
    } cases[] = {
        {1000, 989, false, true},                                   // 11 s
        {1000, 990, false, false},                                  // exactly 10 s
        {1000, 995, false, false},       {1000, 989, true, false},  // a connect is under way
        {1000, 2000, false, false},                                 // the clock went back
        {1'700'000'000, 0, false, true},  // no frame ever: the first tick retries
    };
    for (const auto& c : cases) {
        EXPECT_EQ(watchdogShouldReconnect(c.now, c.lastFrame, c.connecting), c.reconnect)
            << c.now << " " << c.lastFrame << " " << c.connecting;
    }
}

TEST(WindowText, ByStateAndChannel) {
    const struct {
        VideoState state;
        bool hasChannel;
        std::string_view text;
    } cases[] = {
        {VideoState::VideoIdle, false, "No Video"},
        {VideoState::VideoIdle, true, "No Video"},
        {VideoState::VideoConnecting, true, "Connecting..."},
        {VideoState::VideoConnecting, false, "No Video"},
        {VideoState::VideoPlaying, true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(videoWindowText(c.state, c.hasChannel), c.text)
            << static_cast<int>(c.state) << " " << c.hasChannel;
    }
}

TEST(TitleTexts, GridShowsTheIdAndTheSingleViewItsDescriptionToo) {
    VideoChannel gate;
    gate.ChannelID = "7";
    gate.ChannelDescription = "Gate";
    const TitleTexts texts = titleTexts(&gate);
    EXPECT_EQ(texts.shortText, "7");
    EXPECT_EQ(texts.longText, "7 - Gate");
    EXPECT_EQ(titleTexts(nullptr), TitleTexts{});
}

}  // namespace
}  // namespace krt
