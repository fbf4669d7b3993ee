// Alarm subscriptions, pushed alarms and their snapshots, as the alarm channel receives them.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/packet_framing.h"
#include "sim_test_support.h"

namespace krt::sim::test {
namespace {

using namespace std::chrono_literals;

AlarmMessage parsePushed(const std::string& message) {
    const XmlNode data = loadXmlDocument(message).child("kmResponseData");
    return {data.childText("kmAlarmTimestamp"), data.childText("kmAlarmName"),
            data.childText("kmAlarmChannelID")};
}

bool isSeventeenDigits(const std::string& text) {
    return text.size() == 17 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TEST(SimAlarms, OnDemandAlarmReachesEverySubscriberAndItsImageCanBeFetched) {
    RunningSim sim;
    std::vector<std::unique_ptr<PushConnection>> subscribers;
    for (int i = 0; i < 3; ++i) {
        subscribers.push_back(
            std::make_unique<PushConnection>(sim.address(), subscriptionPayload()));
        ASSERT_EQ(subscribers.back()->result, 1);
        EXPECT_GT(loadXmlDocument(subscribers.back()->firstReply.text()).childInt("kmReturnCode"),
                  0);
    }
    ASSERT_TRUE(sim.server().waitForSubscribers(3, 10s));

    const AlarmMessage pushed = sim.server().pushAlarm("4", "Door Open");

    EXPECT_TRUE(isSeventeenDigits(pushed.timestamp)) << pushed.timestamp;
    for (const auto& subscriber : subscribers) {
        ASSERT_TRUE(subscriber->collector.waitForMessages(1, 10s));
        const AlarmMessage received = parsePushed(subscriber->collector.messages().front());
        EXPECT_EQ(received.timestamp, pushed.timestamp);
        EXPECT_EQ(received.name, "Door Open");
        EXPECT_EQ(received.channelId, "4");
    }
    int result = 0;
    const Reply image = sim.request(alarmImagePayload(pushed), &result);
    ASSERT_EQ(result, 1);
    const auto decoded = decodeJpeg(image.payload(), RowOrder::Mirrored);
    ASSERT_TRUE(decoded);
    // Snapshots are taken at medium resolution: half of channel 4's 1280 x 960.
    EXPECT_EQ(decoded->width, 640);
    EXPECT_EQ(decoded->height, 480);
}

TEST(SimAlarms, ScheduleRotatesNamesAndChannels) {
    SimConfig config = RunningSim::quietDefault();
    config.alarms.intervalSeconds = 1;
    config.alarms.names = {"Motion", "Tamper"};
    config.alarms.channels = {"2", "5"};
    RunningSim sim(config);
    PushConnection subscriber(sim.address(), subscriptionPayload());
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));

    ASSERT_TRUE(subscriber.collector.waitForMessages(2, 20s));

    const std::vector<std::string> messages = subscriber.collector.messages();
    EXPECT_EQ(parsePushed(messages[0]).name, "Motion");
    EXPECT_EQ(parsePushed(messages[0]).channelId, "2");
    EXPECT_EQ(parsePushed(messages[1]).name, "Tamper");
    EXPECT_EQ(parsePushed(messages[1]).channelId, "5");
}

TEST(SimAlarms, ImageRequestsForUnkeptAlarmsAndUnknownChannels) {
    SimConfig config = RunningSim::quietDefault();
    config.alarmImageMinBytes = 50'000;
    RunningSim sim(config);
    const AlarmMessage kept = sim.server().pushAlarm("7", "Motion");
    struct Case {
        const char* label;
        AlarmMessage asked;
        bool jpeg;
    };
    const std::vector<Case> cases = {
        {"kept", kept, true},
        {"not kept, known channel", {"20131125103000123", "Motion", "7"}, true},
        {"unknown channel", {kept.timestamp, "Motion", "77"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Reply reply = sim.request(alarmImagePayload(c.asked));
        const auto decoded = decodeJpeg(reply.payload(), RowOrder::Mirrored);
        EXPECT_EQ(decoded.has_value(), c.jpeg);
        if (c.jpeg) {
            EXPECT_GE(reply.length, 50'000);
        } else {
            EXPECT_LE(loadXmlDocument(reply.text()).childInt("kmReturnCode"), 0);
        }
    }
}

TEST(SimAlarms, TheLargestPaddingTheConfigurationTakesStillFitsOneFrame) {
    const SimConfig config =
        parseConfig(R"({"alarmImageMinBytes": 16777212, "alarms": {"intervalSeconds": 0}})");
    RunningSim sim(config);
    const AlarmMessage alarm = sim.server().pushAlarm("7", "Motion");
    SocketClient client(SocketClient::Timeouts{10s, 20s});
    client.setMaxReplyLength(kMaxPayloadLength);
    Reply reply;
    ASSERT_EQ(client.connectToServer(sim.address(), 5500, alarmImagePayload(alarm), reply), 1);
    EXPECT_GE(reply.length, 16'777'212);
    EXPECT_LE(static_cast<std::uint32_t>(reply.length), kMaxPayloadLength);
    EXPECT_TRUE(decodeJpeg(reply.payload(), RowOrder::Mirrored));
}

TEST(SimAlarms, MessagesAreDeliveredAsGivenAndOnlyToLiveSubscribers) {
    RunningSim sim;
    PushConnection leaving(sim.address(), subscriptionPayload());
    PushConnection staying(sim.address(), subscriptionPayload());
    ASSERT_TRUE(sim.server().waitForSubscribers(2, 10s));
    leaving.client.closeCommmunication();
    const AlarmMessage hostile{"../../etc/passwd", "Motion", "1"};

    // The leaving subscriber may still be counted until its connection thread notices.
    const std::size_t reached = sim.server().pushAlarmMessage(hostile);

    EXPECT_GE(reached, 1u);
    ASSERT_TRUE(staying.collector.waitForMessages(1, 10s));
    EXPECT_EQ(parsePushed(staying.collector.messages()[0]).timestamp, "../../etc/passwd");
    EXPECT_EQ(leaving.collector.count(), 0u);
}

TEST(SimAlarms, RefusedSubscriptionKeepsTheConnectionButGetsNoAlarms) {
    SimConfig config = RunningSim::quietDefault();
    FaultMode refuse;
    refuse.kind = FaultKind::Refuse;
    refuse.request = "setalarmnotifications";
    refuse.times = 1;
    config.faults = {refuse};
    RunningSim sim(config);
    PushConnection refused(sim.address(), subscriptionPayload());
    ASSERT_EQ(refused.result, 1);
    EXPECT_EQ(loadXmlDocument(refused.firstReply.text()).childInt("kmReturnCode"), 0);
    PushConnection accepted(sim.address(), subscriptionPayload());
    EXPECT_EQ(loadXmlDocument(accepted.firstReply.text()).childInt("kmReturnCode"), 1);
    ASSERT_TRUE(sim.server().waitForSubscribers(1, 10s));

    EXPECT_EQ(sim.server().pushAlarmMessage({"20240101120000000", "Motion", "1"}), 1u);
    ASSERT_TRUE(accepted.collector.waitForMessages(1, 10s));
    EXPECT_EQ(sim.server().subscriberCount(), 1u);
    EXPECT_FALSE(refused.collector.ended());

    // The refused connection was still open: stopping the server ends it.
    sim.server().stop();
    EXPECT_TRUE(refused.collector.waitForEnd(10s));
    EXPECT_EQ(refused.collector.count(), 0u);
}

}  // namespace
}  // namespace krt::sim::test
