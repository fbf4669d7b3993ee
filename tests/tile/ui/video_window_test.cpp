// One video tile against krt-sim: connecting, the frame turns of the grid, the placement of
// the picture and the taps it reports.
#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <optional>

#include "common/ui/ui_test_support.h"
#include "sim/sim_test_support.h"
#include "support/log_capture.h"
#include "tile/ui/video_title_bar.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"

namespace krt {
namespace {

using sim::test::RunningSim;

constexpr int kWait_ms = 15000;
const QColor kGrey(200, 200, 200);

// A simulator with one small camera of 320 × 240.
sim::SimConfig smallCameraConfig() {
    sim::SimConfig config = RunningSim::quietDefault();
    sim::SimChannel small;
    small.id = "small";
    small.description = "Small";
    small.width = 320;
    small.height = 240;
    small.frameRate = 25.0;
    config.channels = {small};
    return config;
}

VideoChannel smallCamera(bool detailsLoaded) {
    VideoChannel channel;
    channel.ChannelID = "small";
    channel.ChannelDescription = "Small";
    channel.Width = 320;
    channel.Height = 240;
    channel.DetailsLoaded = detailsLoaded;
    return channel;
}

class VideoTile : public test::UiTest {
  protected:
    VideoTile() : m_sim(smallCameraConfig()) {
        m_app.m_serverAddress = m_sim.address();
        m_tile.resize(160, 150);
        m_tile.resizeChildren(160, 150);
        m_tile.show();
    }

    VideoWindow& window() { return *m_tile.videoWindow(); }

    RunningSim m_sim;
    AppState m_app;
    VideoWindowContainer m_tile{m_app, 10000};
};

TEST_F(VideoTile, WithoutChannelShowsNoVideoAndNeverConnects) {
    m_tile.setChannel(nullptr);
    m_tile.startConnect();
    EXPECT_EQ(window().state(), VideoState::VideoIdle);
    EXPECT_EQ(window().windowText(), QStringLiteral("No Video"));
    EXPECT_EQ(m_tile.getChannelId(), "");
    EXPECT_FALSE(window().watchdogArmed());
    EXPECT_EQ(m_sim.server().servedRequests().size(), 0u);
}

// A channel ID with a line break in it writes no log entry of its own.
TEST_F(VideoTile, ItsFrameCountsLogTheServersIdAsShown) {
    VideoChannel channel = smallCamera(true);
    channel.ChannelID = "7\n2026/01/01/ 00:00:00:000 - KRT-forged-";
    m_tile.setChannel(&channel);
    const test::LogCapture log;
    VideoWindowContainer* const tiles[] = {&m_tile};
    logTileFrames(tiles);
    EXPECT_EQ(log.count("\n"), 1);
    EXPECT_TRUE(log.contains(" 7\u27E8U+000A\u27E92026/01/01/ 00:00:00:000 - KRT-forged-=0/0/0"))
        << log.contents();
}

TEST_F(VideoTile, DrawsTheChannelCentredAtItsAspect) {
    const VideoChannel channel = smallCamera(true);
    m_tile.setChannel(&channel);
    m_tile.setBigView(true);
    m_tile.startConnect();
    // The feed's own thread may have its first frame already.
    const QString starting = window().windowText();
    EXPECT_TRUE(starting == QStringLiteral("Connecting...") || starting.isEmpty())
        << starting.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window().newestPicture().isNull(); }, kWait_ms));
    // 320 × 240 in a picture area of 160 × 135: 160 × 120 at (0, 7).
    EXPECT_EQ(window().size(), QSize(160, 135));
    EXPECT_EQ(window().picturePlacementShown(), (Rect{0, 7, 160, 120}));
    EXPECT_EQ(window().newestPicture().size(), QSize(160, 120));
    EXPECT_EQ(window().windowText(), QString());
    const QImage shown = window().grab().toImage();
    EXPECT_EQ(shown.pixelColor(80, 3), kGrey) << "the band above the picture";
    EXPECT_EQ(shown.pixelColor(80, 131), kGrey) << "the band below the picture";
    EXPECT_NE(shown.pixelColor(80, 60), kGrey) << "the picture";
    EXPECT_EQ(m_sim.server().requestCount("getMediumResolutionLiveVideo"), 1u);
}

TEST_F(VideoTile, GridDrawsOnePicturePerThrottlePeriodAndTheSingleViewEveryFrame) {
    for (const bool bigView : {false, true}) {
        const VideoChannel channel = smallCamera(true);
        m_tile.setChannel(&channel);
        m_tile.setBigView(bigView);
        const int before = window().framesReceived();
        const int drawnBefore = window().framesDrawn();
        // No picture is drawn before the start: its time bounds how many periods went by.
        const auto start = std::chrono::steady_clock::now();
        m_tile.startConnect();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return window().framesReceived() - before >= 6 &&
                       window().framesDrawn() > drawnBefore;
            },
            kWait_ms));
        m_tile.pauseVideo();
        m_tile.stopVideo();
        const auto elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count();
        const int received = window().framesReceived() - before;
        const int drawn = window().framesDrawn() - drawnBefore;
        // The first frame is drawn at once; frames that came in together draw only the last.
        EXPECT_LE(drawn, bigView ? received : 1 + elapsed_ms / VideoWindow::kGridThrottle_ms)
            << "big view " << bigView << ", " << received << " received";
        EXPECT_EQ(window().state(), VideoState::VideoIdle);
    }
}

TEST_F(VideoTile, GridTileShowsTheNewestFrameAndLeavesNothingInTheConnection) {
    // 25 frames a second against one picture per throttle period: a tile that let frames wait
    // in the connection would fall further behind with every period.
    const VideoChannel channel = smallCamera(true);
    m_tile.setChannel(&channel);
    m_tile.setBigView(false);
    m_tile.startConnect();
    // What the server sends while the tile decodes and the test looks, with room for the slow
    // sanitizer builds; a tile that let frames wait would be a whole period's frames behind.
    constexpr long kFramesOfLeeway = 25;
    for (int period = 0; period < 3; ++period) {
        const int drawn = window().framesDrawn();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window().framesDrawn() > drawn; }, kWait_ms));
        // Frames count from 1 on each stream, in the simulator as in the tile.
        const long long newestSent = m_sim.server().lastFrameNumber("small").value_or(0);
        EXPECT_GE(window().streamFrameShown(), newestSent - kFramesOfLeeway) << "period " << period;
        EXPECT_GE(window().streamFramesReceived(), newestSent - kFramesOfLeeway)
            << "period " << period;
    }
}

TEST_F(VideoTile, ChannelWithoutDetailsReceivesButDrawsNothing) {
    const VideoChannel channel = smallCamera(false);
    m_tile.setChannel(&channel);
    m_tile.setBigView(true);
    m_tile.startConnect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window().framesReceived() >= 3; }, kWait_ms));
    EXPECT_EQ(window().state(), VideoState::VideoPlaying);
    EXPECT_EQ(window().framesDrawn(), 0);
    EXPECT_TRUE(window().newestPicture().isNull());
    const QImage shown = window().grab().toImage();
    EXPECT_EQ(shown.pixelColor(80, 60), kGrey);
}

TEST_F(VideoTile, TapOnThePictureOrTheTileReportsTheTileAndTheTitleBarNothing) {
    QSignalSpy taps(&m_tile, &VideoWindowContainer::videoTap);
    QTest::mouseClick(m_tile.videoWindow(), Qt::LeftButton);
    QTest::mouseClick(&m_tile, Qt::LeftButton, {}, QPoint(80, 100));
    QTest::mouseClick(m_tile.titleBar(), Qt::LeftButton);
    ASSERT_EQ(taps.count(), 2);
    for (const QList<QVariant>& tap : taps) {
        EXPECT_EQ(tap.at(0).value<VideoWindowContainer*>(), &m_tile);
    }
}

// A tile of its own on a simulator of the small camera whose streams misbehave as told.
class MisbehavingStream : public test::UiTest {
  protected:
    void start(sim::FaultMode fault, bool bigView) {
        sim::SimConfig config = smallCameraConfig();
        fault.request = bigView ? "getMediumResolutionLiveVideo" : "getLowResolutionLiveVideo";
        fault.times = 1;
        config.faults = {fault};
        m_sim.emplace(config);
        m_app.m_serverAddress = m_sim->address();
        m_tile.resize(160, 150);
        m_tile.resizeChildren(160, 150);
        m_tile.show();
        m_tile.setChannel(&m_channel);
        m_tile.setBigView(bigView);
        m_tile.startConnect();
    }

    VideoWindow& window() { return *m_tile.videoWindow(); }

    const VideoChannel m_channel = smallCamera(true);
    std::optional<RunningSim> m_sim;
    AppState m_app;
    VideoWindowContainer m_tile{m_app, 10000};
};

TEST_F(MisbehavingStream, AClosedStreamIsOpenedAgainWithinASecond) {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> lostAt;
    QObject::connect(m_tile.videoWindow(), &VideoWindow::streamLost, [&] {
        if (!lostAt) {
            lostAt = Clock::now();
        }
    });
    sim::FaultMode cut;
    cut.kind = sim::FaultKind::CloseAfterBytes;
    cut.bytes = 20'000;  // several pictures of the small camera, then the connection closes
    start(cut, false);

    ASSERT_TRUE(QTest::qWaitFor([&] { return lostAt.has_value(); }, kWait_ms));
    EXPECT_GT(window().framesReceived(), 0);
    EXPECT_EQ(window().reconnectState().lastLoss, StreamLoss::Closed);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_sim->server().requestCount("getLowResolutionLiveVideo") >= 2; }, kWait_ms));
    EXPECT_LT(Clock::now() - *lostAt, std::chrono::seconds(1));
    // The new stream runs: the reconnecting is over.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window().streamFramesReceived() >= 2; }, kWait_ms));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window().reconnectState().attempt == 0; }, kWait_ms));
    EXPECT_EQ(m_tile.titleBar()->mark(), TileMark::Playing);
}

TEST_F(MisbehavingStream, APictureThatStoppedIsDimmedGreyAndSaysSinceWhen) {
    sim::FaultMode silent;
    silent.kind = sim::FaultKind::SilentDrop;
    silent.afterFrames = 4;  // the reply and three pictures, then nothing, and no close
    start(silent, true);
    // Whether a row near the top of the picture holds a colour that is not a grey.
    const auto colourShown = [&] {
        const QImage shown = window().grab().toImage();
        const std::optional<Rect> place = window().picturePlacementShown();
        bool colour = false;
        for (int x = place->x; x < place->x + place->width; ++x) {
            const QColor pixel = shown.pixelColor(x, place->y + 2);
            colour = colour || pixel.red() != pixel.green() || pixel.green() != pixel.blue();
        }
        return colour;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return window().framesDrawn() >= 1; }, kWait_ms));
    EXPECT_TRUE(colourShown()) << "the live picture is in colour";

    ASSERT_TRUE(QTest::qWaitFor([&] { return window().status().stale; }, kWait_ms));
    EXPECT_EQ(window().status().caption.rfind("No video since ", 0), 0u)
        << window().status().caption;
    EXPECT_EQ(m_tile.titleBar()->mark(), TileMark::NoVideo);
    EXPECT_FALSE(colourShown()) << "the stale picture is grey";
}

TEST_F(VideoTile, TitleBarAndPictureShareTheTile) {
    m_tile.resizeChildren(200, 165);
    EXPECT_EQ(m_tile.titleBar()->geometry(), QRect(0, 0, 200, VideoTitleBar::kHeight));
    EXPECT_EQ(m_tile.videoWindow()->geometry(), QRect(0, 15, 200, 150));
}

}  // namespace
}  // namespace krt
