// The fault modes: each does what it says, to the requests it names, as often as it says.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/packet_framing.h"
#include "protocol/tcp_socket.h"
#include "sim_test_support.h"

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

FaultMode fault(FaultKind kind, std::optional<std::string> request = {},
                std::optional<int> times = {}) {
    FaultMode made;
    made.kind = kind;
    made.request = std::move(request);
    made.times = times;
    return made;
}

RunningSim simWith(std::vector<FaultMode> faults) {
    SimConfig config = RunningSim::quietDefault();
    config.faults = std::move(faults);
    return RunningSim(config);
}

TEST(SimFaults, RequestResultsUnderEachFault) {
    FaultMode shortHeader =
        fault(FaultKind::CloseAfterBytes, "getMobileClientCommunicationVersion");
    shortHeader.bytes = 5;
    FaultMode shortPayload = shortHeader;
    shortPayload.bytes = 12;
    FaultMode nothing = shortHeader;
    nothing.bytes = 0;
    FaultMode text = fault(FaultKind::ReplyText, "getMobileClientCommunicationVersion");
    text.text = "Recv Error";
    struct Case {
        const char* label;
        FaultMode fault;
        int result;  // of connectToServer
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"cut inside the header", shortHeader, 0, ""},
        {"cut inside the payload", shortPayload, 0, ""},
        {"closed before any byte", nothing, 0, ""},
        {"bad start of frame",
         fault(FaultKind::BadStartOfFrame, "getMobileClientCommunicationVersion"), 0, ""},
        {"reply text", text, 1, "Recv Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RunningSim sim = simWith({c.fault});
        int result = -1;
        const Reply reply = sim.request(versionRequest(), &result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(reply.empty() ? std::string() : std::string(reply.text()), c.reply);
        // Other requests are served as usual.
        EXPECT_TRUE(sim.requestXml(loginPayload(kDemoUser, kDemoPassword)).child("kmResponseData"));
    }
}

TEST(SimFaults, TimesLimitsAFaultToTheFirstRequests) {
    RunningSim sim = simWith({fault(FaultKind::Refuse, "getCameraPTZStatus", 2)});
    std::vector<int> codes;
    for (int i = 0; i < 3; ++i) {
        codes.push_back(
            sim.requestXml(channelRequest("getCameraPTZStatus", "1")).childInt("kmReturnCode"));
    }
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 1}));
}

TEST(SimFaults, DelayHoldsTheReplyBack) {
    FaultMode delay = fault(FaultKind::Delay, "getAuthorizedChannelsIDList");
    delay.delayMs = 300;
    RunningSim sim = simWith({delay});
    const auto start = std::chrono::steady_clock::now();
    const XmlNode root = sim.requestXml(channelListRequest(kDemoUser));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_TRUE(root.child("VideoChannels"));
}

TEST(SimFaults, TrickledReplyArrivesInPiecesAndWhole) {
    FaultMode trickle = fault(FaultKind::Trickle, "getVideoChannelDetails");
    trickle.pieceBytes = 16;
    trickle.pauseMs = 20;
    RunningSim sim = simWith({trickle});
    TcpSocket socket = connectTcp(sim.address(), 5500, 5s);
    ASSERT_TRUE(socket.valid());
    setReceiveTimeout(socket.fd(), 10s);
    const std::string request = channelRequest("getVideoChannelDetails", "3");
    ASSERT_EQ(PacketFraming::sendData(socket.fd(), request, nullptr), 1);

    // Read as the header rule does: one receive call that may see fewer than 10 bytes.
    char first[64] = {};
    const ssize_t firstPiece = ::recv(socket.fd(), first, sizeof first, 0);
    EXPECT_GT(firstPiece, 0);
    EXPECT_LE(firstPiece, 16);

    int result = 0;
    const Reply reply = sim.request(request, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(loadXmlDocument(reply.text())
                  .child("VideoChannels")
                  .child("VideoChannel")
                  .childText("ChannelID"),
              "3");
}

TEST(SimFaults, LiveStreamCutMidFrameDeliversNoPartialFrame) {
    // The reply frame is about 110 bytes; the cut falls inside the first picture.
    FaultMode cut = fault(FaultKind::CloseAfterBytes, "getLowResolutionLiveVideo");
    cut.bytes = 400;
    RunningSim sim = simWith({cut});
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Low, "1"));
    EXPECT_EQ(stream.result, 1);
    EXPECT_NE(stream.firstReply.text().find("success"), std::string_view::npos);
    EXPECT_TRUE(stream.collector.waitForEnd(10s));
    EXPECT_EQ(stream.collector.count(), 0u);
}

TEST(SimFaults, BadStartOfFrameAfterSomeFramesEndsTheStream) {
    FaultMode bad = fault(FaultKind::BadStartOfFrame, "getMediumResolutionLiveVideo");
    bad.afterFrames = 3;  // the reply and two pictures
    RunningSim sim = simWith({bad});
    PushConnection stream(sim.address(), liveVideoRequest(LiveResolution::Medium, "2"));
    EXPECT_EQ(stream.result, 1);
    EXPECT_TRUE(stream.collector.waitForEnd(10s));
    EXPECT_EQ(stream.collector.count(), 2u);
}

TEST(SimFaults, PushedAlarmsCanBeTrickledAndStillArriveWhole) {
    FaultMode trickle = fault(FaultKind::Trickle, "setalarmnotifications");
    trickle.pieceBytes = 1;
    trickle.pauseMs = 0;
    RunningSim sim = simWith({trickle});
    PushConnection subscriber(sim.address(), subscriptionPayload());
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));
    const AlarmMessage alarm = sim.server().pushAlarm("9", "Glass Break");
    ASSERT_TRUE(subscriber.collector.waitForMessages(1, 10s));
    const XmlNode data =
        loadXmlDocument(subscriber.collector.messages()[0]).child("kmResponseData");
    EXPECT_EQ(data.childText("kmAlarmName"), "Glass Break");
    EXPECT_EQ(data.childText("kmAlarmTimestamp"), alarm.timestamp);
}

}  // namespace
}  // namespace krt::sim::test
