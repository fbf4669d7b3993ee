// Live video and PTZ, received with the client's protocol layer.
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "frame_stamp.h"
#include "protocol/packet_framing.h"
#include "protocol/tcp_socket.h"
#include "ptz_motion.h"
#include "sim_test_support.h"

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

SimChannel channel(std::string id, int width, int height, double frameRate, bool ptz) {
    SimChannel made;
    made.id = std::move(id);
    made.description = "Test " + made.id;
    made.width = width;
    made.height = height;
    made.frameRate = frameRate;
    made.ptzStatus = ptz ? "1" : "0";
    return made;
}

RunningSim simWith(std::vector<SimChannel> channels) {
    SimConfig config = RunningSim::quietDefault();
    config.channels = std::move(channels);
    return RunningSim(config);
}

TEST(SimLiveVideo, StreamsDecodableFramesOfTheResolutionsSize) {
    struct Case {
        LiveResolution resolution;
        int width;
        int height;
    };
    const std::vector<Case> cases = {{LiveResolution::Low, 160, 120},
                                     {LiveResolution::Medium, 320, 240}};
    RunningSim sim = simWith({channel("cam", 640, 480, 50, false)});
    for (const Case& c : cases) {
        PushConnection stream(sim.address(), liveVideoRequest(c.resolution, "cam"));
        ASSERT_EQ(stream.result, 1);
        EXPECT_NE(stream.firstReply.text().find("success"), std::string_view::npos);
        ASSERT_TRUE(stream.collector.waitForMessages(3, 10s));
        for (const std::string& frame : stream.collector.messages()) {
            const auto image = decodeJpeg(frame, RowOrder::Mirrored);
            ASSERT_TRUE(image);
            EXPECT_EQ(image->width, c.width);
            EXPECT_EQ(image->height, c.height);
        }
    }
}

TEST(SimLiveVideo, CameraLikeFramesStreamWithTheirStampsAndUpright) {
    SimConfig config = RunningSim::quietDefault();
    config.channels = {channel("cam", 1280, 960, 50, true)};
    config.pictureDetail = PictureDetail::Camera;
    RunningSim sim(config);
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Medium, "cam"));
    ASSERT_TRUE(stream.collector.waitForMessages(3, 10s));
    const std::vector<std::string> frames = stream.collector.messages();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto image = decodeJpeg(frames[i], RowOrder::Mirrored);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, 640);
        EXPECT_EQ(image->height, 480);
        EXPECT_GT(frames[i].size(), 30'000u);
        ASSERT_TRUE(readFrameStamp(frames[i]));
        EXPECT_EQ(readFrameStamp(frames[i])->frameNumber, static_cast<long long>(i + 1));
        // Sky above, grass below.
        const auto top = image->meanColour(0, 24);
        const auto bottom = image->meanColour(456, 480);
        EXPECT_GT(top[2], top[1]);
        EXPECT_GT(bottom[1], bottom[2]);
    }
}

TEST(SimLiveVideo, PicturesAreStoredUpsideDownSoTheMirroredDrawIsUpright) {
    RunningSim sim = simWith({channel("cam", 640, 480, 50, false)});
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Medium, "cam"));
    ASSERT_TRUE(stream.collector.waitForMessages(1, 10s));
    const std::string frame = stream.collector.messages().front();

    const auto upright = decodeJpeg(frame, RowOrder::Mirrored);
    const auto stored = decodeJpeg(frame, RowOrder::AsStored);
    ASSERT_TRUE(upright && stored);
    const auto uprightTop = upright->meanColour(0, 24);
    const auto storedTop = stored->meanColour(0, 24);
    // Sky is blue above the horizon and ground green below it.
    EXPECT_GT(uprightTop[2], uprightTop[1]);
    EXPECT_GT(storedTop[1], storedTop[2]);
}

TEST(SimLiveVideo, KeepsRoughlyToTheFrameRate) {
    constexpr double kFramesPerSecond = 20.0;
    RunningSim sim = simWith({channel("cam", 320, 240, kFramesPerSecond, false)});
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Low, "cam"));
    ASSERT_TRUE(stream.collector.waitForMessages(1, 10s));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(stream.collector.waitForMessages(11, 10s));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
    // Ten intervals of 50 ms: never a burst, and not far behind on a busy machine.
    EXPECT_GT(seconds, 10 / kFramesPerSecond * 0.8);
    EXPECT_LT(seconds, 10 / kFramesPerSecond * 6);
}

TEST(SimLiveVideo, RefusesAnUnknownChannelWithoutTheWordSuccess) {
    RunningSim sim = simWith({channel("cam", 320, 240, 10, false)});
    for (const char* id : {"nope", "", "CAM"}) {
        SCOPED_TRACE(id);
        PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Low, id));
        ASSERT_EQ(stream.result, 1);
        EXPECT_EQ(stream.firstReply.text().find("success"), std::string_view::npos);
        EXPECT_TRUE(stream.collector.waitForEnd(10s));
        EXPECT_EQ(stream.collector.count(), 0u);
    }
}

// The PTZ connection as the Videos page holds it: frames sent, nothing read.
class PtzSender {
  public:
    explicit PtzSender(const std::string& address)
        : m_socket(connectTcp(address, 5500, std::chrono::seconds(5))) {}
    bool valid() const { return m_socket.valid(); }
    bool send(std::string_view channelId, int code) {
        const std::string request = ptzRequest(kDemoUser, channelId, code);
        return PacketFraming::sendData(m_socket.fd(), request, nullptr) == 1;
    }

  private:
    TcpSocket m_socket;
};

// The sky band holds only the landmarks, which move only with the camera head.
std::vector<std::uint8_t> skyBand(const std::string& frame) {
    const auto image = decodeJpeg(frame, RowOrder::Mirrored);
    return image ? image->rows(0, image->height * 2 / 5) : std::vector<std::uint8_t>{};
}

TEST(SimPtz, CommandsMoveTheViewInTheFollowingFrames) {
    RunningSim sim = simWith({channel("dome", 640, 480, 50, true)});
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Medium, "dome"));
    ASSERT_TRUE(stream.collector.waitForMessages(2, 10s));
    const std::vector<std::string> still = stream.collector.messages();
    EXPECT_EQ(skyBand(still[0]), skyBand(still[1]));

    PtzSender ptz(sim.address());
    ASSERT_TRUE(ptz.valid());
    const struct {
        int code;
        bool (*moved)(const PtzView& before, const PtzView& after);
    } presses[] = {
        {kPtzRight, [](const PtzView& b, const PtzView& a) { return a.panDegrees > b.panDegrees; }},
        {kPtzUp, [](const PtzView& b, const PtzView& a) { return a.tiltDegrees > b.tiltDegrees; }},
        {kPtzZoomIn, [](const PtzView& b, const PtzView& a) { return a.zoom > b.zoom; }},
        {kPtzZoomOut, [](const PtzView& b, const PtzView& a) { return a.zoom < b.zoom; }},
        {kPtzDown,
         [](const PtzView& b, const PtzView& a) { return a.tiltDegrees < b.tiltDegrees; }},
        {kPtzLeft,
         [](const PtzView& b, const PtzView& a) {
             return a.panDegrees != b.panDegrees;  // wraps below 0
         }},
    };
    for (const auto& press : presses) {
        SCOPED_TRACE(press.code);
        const PtzView before = sim.server().ptzView("dome").value();
        const std::string frameBefore = stream.collector.messages().back();
        ASSERT_TRUE(ptz.send("dome", press.code));
        ASSERT_TRUE(sim.server().waitForPtzCommand("dome", press.code, 10s));
        ASSERT_TRUE(ptz.send("dome", kPtzStop));
        ASSERT_TRUE(sim.server().waitForPtzCommand("dome", kPtzStop, 10s));
        EXPECT_TRUE(press.moved(before, sim.server().ptzView("dome").value()));

        // Frames rendered after the release: the one in the making may predate it.
        const std::size_t rendered = sim.server().framesSent();
        ASSERT_TRUE(stream.collector.waitForMessages(rendered + 2, 10s));
        const std::vector<std::string> after = stream.collector.messages();
        EXPECT_NE(skyBand(after[rendered + 1]), skyBand(frameBefore));
        EXPECT_EQ(skyBand(after[rendered + 1]), skyBand(after.back()));
    }
}

TEST(SimPtz, ChannelsWithoutPtzAndUnknownCodesLeaveTheViewAlone) {
    RunningSim sim =
        simWith({channel("fixed", 320, 240, 10, false), channel("dome", 320, 240, 10, true)});
    PtzSender ptz(sim.address());
    ASSERT_TRUE(ptz.send("fixed", kPtzRight));
    ASSERT_TRUE(ptz.send("dome", 99));
    ASSERT_TRUE(sim.server().waitForPtzCommand("dome", 99, 10s));

    EXPECT_EQ(sim.server().lastPtzCommand("fixed"), kPtzRight);
    EXPECT_FALSE(sim.server().ptzView("fixed"));
    const PtzView view = sim.server().ptzView("dome").value();
    EXPECT_EQ(view.panDegrees, 0.0);
    EXPECT_EQ(view.zoom, 1.0);
    EXPECT_EQ(sim.server().requestCount("PTZCommand2"), 2u);
}

TEST(SimServerLoad, ServesTenClientsAtOnce) {
    RunningSim sim;
    constexpr int kClients = 10;
    std::vector<std::future<std::string>> outcomes;
    for (int i = 0; i < kClients; ++i) {
        outcomes.push_back(std::async(std::launch::async, [&sim, i]() -> std::string {
            if (!sim.requestXml(loginPayload(kDemoUser, kDemoPassword)).child("kmResponseData")) {
                return "login";
            }
            if (sim.requestXml(versionRequest()).childText("kmDescription") !=
                kClientProtocolVersion) {
                return "version";
            }
            const std::string id = std::to_string(i % 9 + 1);
            if (!sim.requestXml(channelRequest("getVideoChannelDetails", id))
                     .child("VideoChannels")
                     .child("VideoChannel")) {
                return "details";
            }
            PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Low, id));
            if (!stream.collector.waitForMessages(3, 20s)) {
                return "frames";
            }
            return decodeJpeg(stream.collector.messages()[2], RowOrder::Mirrored) ? "ok" : "decode";
        }));
    }
    for (auto& outcome : outcomes) {
        ASSERT_EQ(outcome.wait_for(60s), std::future_status::ready);
        EXPECT_EQ(outcome.get(), "ok");
    }
    EXPECT_EQ(sim.server().requestCount("validateuser"), static_cast<std::size_t>(kClients));
}

}  // namespace
}  // namespace krt::sim::test
