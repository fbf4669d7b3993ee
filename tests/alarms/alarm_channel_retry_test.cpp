#include "alarms/alarm_channel.h"

#include <gtest/gtest.h>

#include "alarms/alarm_channel_fixture.h"

namespace krt {
namespace {

using namespace alarm_test;

// A refused subscription is retried on every tick of the retry timer until one is accepted,
// and the owner hears each state in order.
TEST_F(AlarmHandlerTest, ARefusedSubscriptionIsRetriedOnTheTimerUntilOneIsAccepted) {
    using State = AlarmChannelStatus::State;
    const ScopedDiagLog log(m_root / "log");
    FakeAlarmServerScript script;
    script.refuseFirstSubscriptions = 2;
    FakeAlarmServer server(script);
    const auto started = AlarmChannelStatus::Clock::now();
    startSubscribed(server);
    for (int tick = 1; tick <= 2; ++tick) {
        ASSERT_TRUE(m_owner.waitForTimerCalls(static_cast<std::size_t>(tick)));
        EXPECT_FALSE(m_handler->connectedFlag());
        m_handler->requestAlarmRestart();  // the timer's tick
        ASSERT_TRUE(server.waitForSubscriptions(tick + 1, kWait));
    }
    ASSERT_TRUE(m_owner.waitForStatus(State::subscribed));
    EXPECT_TRUE(m_handler->connectedFlag());
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    m_handler.reset();

    EXPECT_EQ(m_owner.timersSet(),
              (std::vector<std::array<int, 2>>{{kAlarmRetryTimerId, kAlarmRetryPeriod_ms},
                                               {kAlarmRetryTimerId, kAlarmRetryPeriod_ms}}));
    EXPECT_EQ(m_owner.timersKilled(), std::vector<int>{kAlarmRetryTimerId});
    EXPECT_EQ(log.entriesContaining("KRT-kmKRTAlarmHandlerC::startReceivingAlarms()-Unable to "
                                    "start alarm notifications with server-"),
              2);
    const std::vector<AlarmChannelStatus> reports = m_owner.statuses();
    ASSERT_EQ(reports.size(), 5u);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        const AlarmChannelStatus& retrying = reports[static_cast<std::size_t>(attempt - 1)];
        EXPECT_EQ(retrying.state, State::retrying);
        EXPECT_EQ(retrying.reason, AlarmChannelStatus::Reason::refused);
        EXPECT_EQ(retrying.code, 0);
        EXPECT_EQ(retrying.attempt, attempt);
        EXPECT_GE(retrying.since, started);
        EXPECT_GE(retrying.nextAttempt - retrying.since, std::chrono::seconds(14));
    }
    EXPECT_EQ(reports[2].state, State::subscribed);
    EXPECT_EQ(reports[2].attempt, 0);
    EXPECT_GE(reports[2].since, reports[1].since);
    EXPECT_FALSE(reports[2].lastAlarm);
    EXPECT_EQ(reports[3].state, State::subscribed) << "an alarm arrived";
    EXPECT_GE(reports[3].lastAlarm, reports[2].since);
    EXPECT_EQ(reports[4].state, State::stopped);
}

struct BadReplyCase {
    const char* label;
    std::string reply;
};

class BadSubscriptionReplyTest : public AlarmHandlerTest,
                                 public testing::WithParamInterface<BadReplyCase> {};

TEST_P(BadSubscriptionReplyTest, LogsKeepsTheConnectionForAlarmsAndRetriesOnTheTimer) {
    const ScopedDiagLog log(m_root / "log");
    std::mutex shownMutex;
    std::vector<std::string> shown;
    setMessageSink([&](std::string_view text) {
        std::lock_guard lock(shownMutex);
        shown.emplace_back(text);
    });
    FakeAlarmServerScript script;
    script.subscriptionReply = GetParam().reply;
    FakeAlarmServer server(script);
    startSubscribed(server);
    // Pushed alarms still arrive on the connection, which also shows the reply was handled.
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    setMessageSink({});

    EXPECT_EQ(log.entriesContaining("Unable to start alarm notifications with server"), 1);
    EXPECT_EQ(m_owner.timersSet(),
              (std::vector<std::array<int, 2>>{{kAlarmRetryTimerId, kAlarmRetryPeriod_ms}}));
    EXPECT_FALSE(m_handler->connectedFlag());
    EXPECT_EQ(m_owner.statuses().back().reason, AlarmChannelStatus::Reason::unreadable);
    m_handler->requestAlarmRestart();
    EXPECT_TRUE(server.waitForSubscriptions(2, kWait));
    const bool notXml = GetParam().reply.find('<') == std::string::npos;
    std::lock_guard lock(shownMutex);
    EXPECT_EQ(shown, notXml ? std::vector<std::string>{"retVal != VARIANT_TRUE == NULL"}
                            : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BadSubscriptionReplyTest,
    testing::Values(BadReplyCase{"not_xml", "this is no reply"},
                    BadReplyCase{"no_return_code",
                                 "<kmResponse><kmDescription>x</kmDescription></kmResponse>"}),
    [](const testing::TestParamInfo<BadReplyCase>& param) { return param.param.label; });

TEST_F(AlarmHandlerTest, ComesBackAfterTheServerIsKilledAndRestarted) {
    auto server = std::make_unique<FakeAlarmServer>();
    const std::string address = server->address();
    startSubscribed(*server);
    server.reset();  // every connection closed, nothing listens any more

    FakeAlarmServer restarted({}, address);
    ASSERT_TRUE(restarted.waitForSubscriptions(1, kWait));
    ASSERT_TRUE(restarted.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    EXPECT_TRUE(fs::exists(snapshot("20131125103000123")));
}

TEST_F(AlarmHandlerTest, AConnectionLostRightAfterTheReplyIsResubscribed) {
    FakeAlarmServerScript script;
    script.dropFirstSubscriptions = 3;
    FakeAlarmServer server(script);
    startChannel(server);
    ASSERT_TRUE(server.waitForSubscriptions(4, kWait));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    EXPECT_EQ(server.subscriptionCount(), 4);
}

TEST_F(AlarmHandlerTest, NoSnapshotFolderStoresEventsWithoutFetchingImages) {
    m_app.m_snapshotFolder.clear();
    FakeAlarmServer server;
    startSubscribed(server);
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    EXPECT_TRUE(m_owner.events()[0].imagePath.empty());
    EXPECT_TRUE(server.imageRequests().empty());
}

}  // namespace
}  // namespace krt
