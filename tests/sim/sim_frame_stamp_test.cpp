// Every live frame names its number and send time in a JPEG comment, and the server counts
// what each channel sent, so that a test can tell which frame a client shows.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame_renderer.h"
#include "frame_stamp.h"
#include "sim_test_support.h"

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

std::string smallJpeg() {
    RasterImage image;
    image.resize(16, 16);
    JpegEncoder encoder;
    return encoder.encodeUpsideDown(image, 80);
}

std::string comment(std::string_view text) {
    const std::size_t length = text.size() + 2;
    std::string segment = {'\xFF', '\xFE', static_cast<char>(length >> 8),
                           static_cast<char>(length & 0xFF)};
    return segment + std::string(text);
}

TEST(SimFrameStamp, ReadsBackWhatWasWrittenAndNothingElse) {
    const std::string plain = smallJpeg();
    ASSERT_GT(plain.size(), 2u);
    std::string stamped = plain;
    stampJpeg(stamped, {42, 1'765'000'000'123});
    std::string padded = stamped;
    padJpeg(padded, stamped.size() + 70'000);  // comment segments before the stamp
    const std::string soi = plain.substr(0, 2);
    const std::string rest = plain.substr(2);
    struct Case {
        const char* label;
        std::string bytes;
        std::optional<FrameStamp> stamp;
    };
    const std::vector<Case> cases = {
        {"stamped", stamped, FrameStamp{42, 1'765'000'000'123}},
        {"behind padding", padded, FrameStamp{42, 1'765'000'000'123}},
        {"plain", plain, std::nullopt},
        {"other comment", soi + comment("hello") + rest, std::nullopt},
        {"number too big", soi + comment("krt-sim frame=99999999999999999999 sentMs=1") + rest,
         std::nullopt},
        {"no send time", soi + comment("krt-sim frame=5") + rest, std::nullopt},
        {"cut inside the stamp", stamped.substr(0, 10), std::nullopt},
        {"not a JPEG", "KMCS" + stamped, std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(readFrameStamp(c.bytes), c.stamp);
    }
    // The picture is unchanged by the stamp.
    EXPECT_EQ(decodeJpeg(stamped, RowOrder::AsStored)->rgb,
              decodeJpeg(plain, RowOrder::AsStored)->rgb);
}

TEST(SimFrameStamp, StreamedFramesCarryTheirNumberAndTheServerCountsThem) {
    SimConfig config = RunningSim::quietDefault();
    SimChannel channel;
    channel.id = "cam";
    channel.width = 320;
    channel.height = 240;
    channel.frameRate = 50;
    config.channels = {channel};
    RunningSim sim(config);
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    EXPECT_EQ(sim.server().lastFrameNumber("cam"), std::nullopt);

    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Medium, "cam"));
    ASSERT_EQ(stream.result, 1);
    ASSERT_TRUE(stream.collector.waitForMessages(4, 10s));
    ASSERT_TRUE(sim.server().waitForFrames("cam", 4, 10s));
    const std::vector<StreamStatus> streams = sim.server().liveStreams();
    const std::vector<std::string> frames = stream.collector.messages();

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::optional<FrameStamp> stamp = readFrameStamp(frames[i]);
        ASSERT_TRUE(stamp);
        EXPECT_EQ(stamp->frameNumber, static_cast<long long>(i + 1));
        EXPECT_GE(stamp->sentMs, before);
    }
    const long long newest = readFrameStamp(frames.back())->frameNumber;
    EXPECT_GE(sim.server().lastFrameNumber("cam").value_or(0), newest);
    EXPECT_GE(sim.server().framesSent("cam"), frames.size());
    EXPECT_EQ(sim.server().framesSent("other"), 0u);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].channelId, "cam");
    EXPECT_EQ(streams[0].resolution, LiveResolution::Medium);
    EXPECT_GE(streams[0].lastFrameNumber, 4);
    EXPECT_GE(streams[0].lastSentMs, before);
}

}  // namespace
}  // namespace krt::sim::test
