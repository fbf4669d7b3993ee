// A camera's feed against krt-sim, without any widget: what it records, decodes and shows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/sim_test_support.h"
#include "support/clip_reader.h"
#include "support/log_capture.h"
#include "support/loopback_server.h"
#include "tile/tile_feed.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using sim::test::RunningSim;

sim::SimConfig oneCamera() {
    sim::SimConfig config = RunningSim::quietDefault();
    sim::SimChannel camera;
    camera.id = "gate";
    camera.description = "Gate";
    camera.width = 320;
    camera.height = 240;
    camera.frameRate = 25.0;
    config.channels = {camera};
    return config;
}

FeedCamera gateAt(const std::string& address) {
    FeedCamera camera{address, 5500, {}};
    camera.channel.ChannelID = "gate";
    camera.channel.Width = 320;
    camera.channel.Height = 240;
    camera.channel.DetailsLoaded = true;
    return camera;
}

// Waits, bounded, until the condition holds.
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = 15s) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(TileFeed, RecordsEveryFrameAndDecodesOnlyWhileShownAtTheGridsPace) {
    RunningSim sim(oneCamera());
    test::TempFolder folder;
    auto recorder = std::make_shared<ClipRecorder>();
    RecordingPlan plan = recordingPlanFor(sim.address(), gateAt(sim.address()).channel);
    plan.folder = folder.path();
    ASSERT_EQ(recorder->start(plan), std::nullopt);

    TileFeed feed;
    std::atomic<int> picturesTold{0};
    feed.setListener({.pictureReady = [&] { ++picturesTold; }, .changed = {}});
    feed.setCamera(gateAt(sim.address()));
    feed.setArea(160, 120);
    feed.setRecording(recorder);
    feed.start();

    // Hidden: every frame is read, kept and recorded, none decoded.
    ASSERT_TRUE(waitFor([&] { return feed.framesReceived() >= 20; }));
    EXPECT_EQ(feed.state(), VideoState::VideoPlaying);
    EXPECT_EQ(feed.framesDrawn(), 0);
    EXPECT_EQ(feed.newestPicture(), nullptr);
    EXPECT_EQ(picturesTold.load(), 0);
    EXPECT_TRUE(feed.newestFrame().has_value());

    // Shown in the grid: the next frame is drawn at once, then one per throttle period.
    const auto shownAt = std::chrono::steady_clock::now();
    const int receivedBefore = feed.framesReceived();
    feed.setShown(true);
    ASSERT_TRUE(waitFor([&] { return feed.newestPicture() != nullptr; }, 2s));
    EXPECT_LE(std::chrono::steady_clock::now() - shownAt, 1s) << "within a frame or so";
    ASSERT_TRUE(waitFor([&] { return feed.framesReceived() - receivedBefore >= 60; }));
    const auto shownFor = std::chrono::steady_clock::now() - shownAt;
    const auto periods = std::chrono::duration_cast<std::chrono::milliseconds>(shownFor).count() /
                         TileFeed::kGridThrottle_ms;
    EXPECT_GE(feed.framesDrawn(), 1);
    EXPECT_LE(feed.framesDrawn(), 1 + periods);
    const std::shared_ptr<const FeedPicture> picture = feed.newestPicture();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->placement, (Rect{0, 0, 160, 120}));
    EXPECT_EQ(picture->picture.size.width, 160);

    // Hidden again: decoding stops, recording goes on.
    feed.setShown(false);
    const int drawnWhenHidden = feed.framesDrawn();
    const int receivedWhenHidden = feed.framesReceived();
    ASSERT_TRUE(waitFor([&] { return feed.framesReceived() - receivedWhenHidden >= 20; }));
    EXPECT_EQ(feed.framesDrawn(), drawnWhenHidden);

    feed.stop();
    EXPECT_EQ(feed.state(), VideoState::VideoIdle);
    recorder->stop();
    EXPECT_EQ(recorder->framesRecorded(), feed.framesReceived());
    std::vector<std::filesystem::path> clips;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        clips.push_back(entry.path());
    }
    ASSERT_EQ(clips.size(), 1u);
    const std::optional<test::ClipContents> clip = test::readClip(clips.front());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->frames.size(), static_cast<std::size_t>(feed.framesReceived()));
}

TEST(TileFeed, ReconnectsALostStreamByItselfAndStopsForGood) {
    test::LoopbackListener listener = test::listenOnFreeLoopbackAddress(5500);
    const std::string address = listener.address;
    auto server = std::make_unique<sim::SimServer>(oneCamera());
    server->start(std::move(listener.socket));
    const FeedCamera camera = gateAt(address);
    TileFeed feed;
    feed.setCamera(camera);
    feed.start();
    ASSERT_TRUE(waitFor([&] { return feed.streamFramesReceived() >= 3; }));

    // The server goes away: the loss is seen and retried with backoff, and a server back on
    // the same address is streamed from again without anyone asking.
    server.reset();
    ASSERT_TRUE(waitFor([&] { return feed.streamLosses() >= 1; }));
    server = std::make_unique<sim::SimServer>(oneCamera());
    server->start(test::listenOnLoopbackAddress(address, 5500));
    // The count starts again before the request reaches the new server.
    ASSERT_TRUE(waitFor(
        [&] {
            return server->requestCount("getLowResolutionLiveVideo") == 1 &&
                   feed.streamFramesReceived() >= 3;
        },
        20s));
    EXPECT_EQ(feed.reconnectState().attempt, 0);

    feed.stop();
    const int received = feed.framesReceived();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(feed.framesReceived(), received) << "no frame after the stop";
    EXPECT_EQ(feed.state(), VideoState::VideoIdle);
    EXPECT_EQ(server->requestCount("getLowResolutionLiveVideo"), 1u);
}

}  // namespace
}  // namespace krt
