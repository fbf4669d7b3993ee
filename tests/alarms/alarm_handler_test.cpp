#include "alarms/alarm_handler.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "alarms/fake_alarm_server.h"
#include "protocol/diag_log.h"
#include "protocol/message_sink.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::FakeAlarmServer;
using test::FakeAlarmServerScript;
using test::fakeJpeg;

constexpr auto kWait = 10s;
// How long a test watches for something that must not happen.
constexpr auto kQuietPeriod = 300ms;

std::string alarmXml(std::string_view timestamp, std::string_view name = "Motion",
                     std::string_view channel = "7") {
    return "<kmResponse><kmReturnCode>1</kmReturnCode><kmResponseData>"
           "<kmAlarmTimestamp>" +
           std::string(timestamp) +
           "</kmAlarmTimestamp>"
           "<kmAlarmName>" +
           std::string(name) +
           "</kmAlarmName>"
           "<kmAlarmChannelID>" +
           std::string(channel) +
           "</kmAlarmChannelID>"
           "<kmAlarmVideoChannelID>" +
           std::string(channel) +
           "</kmAlarmVideoChannelID>"
           "</kmResponseData></kmResponse>";
}

std::string fileContents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Records what the channel tells its owner and lets a test await it.
class RecordingOwner : public AlarmChannelOwner {
  public:
    struct Alert {
        std::string name, channel, time;
    };

    void queueEventAlert(std::string_view alarmName, std::string_view channelId,
                         std::string_view timeText) override {
        record([&] {
            m_alerts.push_back(
                {std::string(alarmName), std::string(channelId), std::string(timeText)});
        });
    }
    void eventStored(const AlarmEvent& event) override {
        // The file is there when the owner hears of the event.
        const bool imagePresent = fs::exists(event.imagePath);
        record([&] {
            m_events.push_back(event);
            m_imagePresent.push_back(imagePresent);
        });
    }
    void channelStatusChanged(const AlarmChannelStatus& status) override {
        record([&] { m_statuses.push_back(status); });
    }
    void setRetryTimer(int timerId, int period_ms) override {
        record([&] { m_timersSet.push_back({timerId, period_ms}); });
    }
    void killRetryTimer(int timerId) override {
        record([&] { m_timersKilled.push_back(timerId); });
    }

    bool waitForEvents(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWait, [&] { return m_events.size() >= count; });
    }
    bool waitForTimerCalls(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(
            lock, kWait, [&] { return m_timersSet.size() + m_timersKilled.size() >= count; });
    }
    std::vector<AlarmEvent> events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<bool> imagePresent() {
        std::lock_guard lock(m_mutex);
        return m_imagePresent;
    }
    std::vector<Alert> alerts() {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    std::vector<std::array<int, 2>> timersSet() {
        std::lock_guard lock(m_mutex);
        return m_timersSet;
    }
    std::vector<int> timersKilled() {
        std::lock_guard lock(m_mutex);
        return m_timersKilled;
    }
    std::vector<AlarmChannelStatus> statuses() {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }
    bool waitForStatus(AlarmChannelStatus::State state) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(
            lock, kWait, [&] { return !m_statuses.empty() && m_statuses.back().state == state; });
    }

  private:
    template <typename Change>
    void record(Change change) {
        {
            std::lock_guard lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<AlarmEvent> m_events;
    std::vector<bool> m_imagePresent;
    std::vector<Alert> m_alerts;
    std::vector<std::array<int, 2>> m_timersSet;
    std::vector<int> m_timersKilled;
    std::vector<AlarmChannelStatus> m_statuses;
};

// The diagnostic log, turned on for one test in a folder of its own.
class ScopedDiagLog {
  public:
    explicit ScopedDiagLog(const fs::path& folder) : m_folder(folder) {
        fs::create_directories(folder);
        enableDiagLog(folder.string());
    }
    ~ScopedDiagLog() { enableDiagLog(""); }
    ScopedDiagLog(const ScopedDiagLog&) = delete;
    ScopedDiagLog& operator=(const ScopedDiagLog&) = delete;

    int entriesContaining(std::string_view text) const {
        int count = 0;
        for (const fs::directory_entry& file : fs::directory_iterator(m_folder)) {
            std::ifstream in(file.path());
            for (std::string line; std::getline(in, line);) {
                count += line.find(text) != std::string::npos ? 1 : 0;
            }
        }
        return count;
    }

  private:
    fs::path m_folder;
};

class AlarmHandlerTest : public testing::Test {
  protected:
    void SetUp() override {
        m_root =
            fs::temp_directory_path() / ("krt-alarms-" + std::to_string(std::random_device{}()));
        m_app.m_appFolder = m_root / "program";
        m_app.m_snapshotFolder = m_app.m_appFolder / "EventImages";
        fs::create_directories(m_app.m_snapshotFolder);
    }
    void TearDown() override {
        m_handler.reset();
        fs::remove_all(m_root);
    }

    void startChannel(const FakeAlarmServer& server,
                      SnapshotRetention retention = SnapshotRetention::DeleteEvicted) {
        m_app.m_serverAddress = server.address();
        m_handler = std::make_unique<kmKRTAlarmHandlerC>(m_app, m_owner, retention);
        m_handler->requestAlarmRestart();
    }
    // Subscribes and waits until the server holds the push connection.
    void startSubscribed(FakeAlarmServer& server) {
        startChannel(server);
        ASSERT_TRUE(server.waitForSubscriptions(1, kWait));
    }
    fs::path snapshot(std::string_view stem) const {
        return m_app.m_snapshotFolder / (std::string(stem) + ".jpg");
    }
    std::vector<fs::path> snapshotFiles() const {
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_app.m_snapshotFolder)) {
            files.push_back(entry.path());
        }
        return files;
    }
    void pushAlarms(FakeAlarmServer& server, int count, int firstSecond = 0) {
        for (int i = 0; i < count; ++i) {
            char timestamp[18];
            std::snprintf(timestamp, sizeof timestamp, "201311251030%02d000", firstSecond + i);
            ASSERT_TRUE(server.push(alarmXml(timestamp, "Alarm" + std::to_string(i))));
        }
    }

    fs::path m_root;
    KRTApp m_app;
    RecordingOwner m_owner;
    std::unique_ptr<kmKRTAlarmHandlerC> m_handler;
};

TEST_F(AlarmHandlerTest, SubscribesWithTheWholeDocumentAndTwoZeroBytesAndKillsTheRetryTimer) {
    FakeAlarmServer server;
    startSubscribed(server);
    EXPECT_EQ(server.subscriptions().front(),
              "<kmRequest><kmRequestID>setalarmnotifications</kmRequestID></kmRequest>\0\0"s);
    ASSERT_TRUE(m_owner.waitForTimerCalls(1));
    EXPECT_EQ(m_owner.timersKilled(), std::vector<int>{kAlarmRetryTimerId});
    EXPECT_TRUE(m_owner.timersSet().empty());
    EXPECT_TRUE(m_handler->connectedFlag());
}

TEST_F(AlarmHandlerTest, StoresThe25November2013AlarmWithItsSnapshot) {
    FakeAlarmServer server;
    startSubscribed(server);
    const WallClock::time_point pushed = WallClock::now();
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "Motion", "7")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    const WallClock::time_point stored = WallClock::now();

    EXPECT_EQ(server.imageRequests(),
              std::vector<std::string>{
                  "<kmRequest><kmRequestID>getAlarmImage</kmRequestID><kmRequestData>"
                  "<kmAlarmChannelID>7</kmAlarmChannelID><kmAlarmName>Motion</kmAlarmName>"
                  "<kmAlarmTimestamp>20131125103000123</kmAlarmTimestamp>"
                  "</kmRequestData></kmRequest>\0\0"s});
    const std::vector<AlarmEvent> events = m_owner.events();
    ASSERT_EQ(events.size(), 1u);
    const WallClock::time_point received = events[0].receivedTime;
    EXPECT_TRUE(received >= pushed && received <= stored);
    // Its own time is years before it came: late.
    const AlarmEvent expected{"Motion",
                              "7",
                              "25-Nov-2013::10:30:00",
                              snapshot("20131125103000123"),
                              alarmTimePoint({2013, 11, 0, 25, 10, 30, 0, 123}).value(),
                              received,
                              Punctuality::Late};
    EXPECT_EQ(events, std::vector<AlarmEvent>{expected});
    EXPECT_EQ(fileContents(expected.imagePath), fakeJpeg(0));
    EXPECT_EQ(snapshotFiles().size(), 1u);

    const std::vector<RecordingOwner::Alert> alerts = m_owner.alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].name, "Motion");
    EXPECT_EQ(alerts[0].channel, "7");
    EXPECT_EQ(alerts[0].time, "25-Nov-2013::10:30:00");

    const EventRing ring = m_handler->ring();
    EXPECT_EQ(ring.events(), std::vector<AlarmEvent>{expected});
}

struct TimestampCase {
    const char* label;
    std::string timestamp;
    std::string expectedFile;  // empty: the alarm is dropped
    std::string expectedRequestDigits;
    std::string expectedTimeText;
};

class AlarmTimestampEndToEndTest : public AlarmHandlerTest,
                                   public testing::WithParamInterface<TimestampCase> {};

// Each case is followed by a good alarm, so that a dropped one is known to be dropped once the
// good one is stored.
TEST_P(AlarmTimestampEndToEndTest, NamesTheFileAndRequestsTheImageOrDropsTheAlarmSilently) {
    const TimestampCase& c = GetParam();
    const fs::path logFolder = m_root / "log";
    const ScopedDiagLog log(logFolder);
    FakeAlarmServer server;
    startSubscribed(server);
    ASSERT_TRUE(server.push(alarmXml(c.timestamp)));
    ASSERT_TRUE(server.push(alarmXml("20200101000000000", "Marker")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    const bool dropped = c.expectedFile.empty();
    ASSERT_TRUE(m_owner.waitForEvents(dropped ? 1 : 2));

    const std::vector<AlarmEvent> events = m_owner.events();
    const std::vector<std::string> requests = server.imageRequests();
    if (dropped) {
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].alarmName, "Marker");
        EXPECT_EQ(requests.size(), 1u) << "no image is fetched for a dropped alarm";
        EXPECT_EQ(log.entriesContaining("kmKRTAlarmHandlerC"), 0) << "dropped silently";
        return;
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].timeText, c.expectedTimeText);
    EXPECT_EQ(events[0].imagePath, snapshot(c.expectedFile));
    EXPECT_EQ(fileContents(snapshot(c.expectedFile)), fakeJpeg(0));
    EXPECT_NE(
        requests[0].find("<kmAlarmTimestamp>" + c.expectedRequestDigits + "</kmAlarmTimestamp>"),
        std::string::npos)
        << requests[0];
    // Nothing lands anywhere but in the snapshot folder.
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(m_app.m_appFolder), {}), 3)
        << "EventImages and its two snapshots only";
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root), {}), 2) << "program and log only";
}

INSTANTIATE_TEST_SUITE_P(
    Timestamps, AlarmTimestampEndToEndTest,
    testing::Values(TimestampCase{"thirteen_digits", "2013112510303", "2013112510303",
                                  "20131125103003000", "25-Nov-2013::10:30:03"},
                    TimestampCase{"day_31_of_a_30_day_month", "20131131103000123",
                                  "20131131103000123", "20131131103000123",
                                  "01-Dec-2013::10:30:00"},
                    TimestampCase{"month_13", "20131325103000123", "", "", ""},
                    TimestampCase{"hour_24", "20131125243000123", "", "", ""},
                    TimestampCase{"missing", "", "", "", ""},
                    TimestampCase{"hostile_path", "20131125103000123/../../../escape",
                                  "20131125103000123", "20131125103000123",
                                  "25-Nov-2013::10:30:00"},
                    TimestampCase{"hostile_absolute", "20131125103000/tmp/x", "20131125103000000",
                                  "20131125103000000", "25-Nov-2013::10:30:00"}),
    [](const testing::TestParamInfo<TimestampCase>& param) { return param.param.label; });

TEST_F(AlarmHandlerTest, SeventhEventEvictsTheFirstAndDeletesItsSnapshot) {
    FakeAlarmServer server;
    startSubscribed(server);
    pushAlarms(server, 7);
    ASSERT_TRUE(m_owner.waitForEvents(7));

    EXPECT_EQ(m_owner.imagePresent(), std::vector<bool>(7, true));
    EXPECT_FALSE(fs::exists(snapshot("20131125103000000")));
    for (int second = 1; second < 7; ++second) {
        EXPECT_TRUE(fs::exists(snapshot("201311251030" + std::string(second < 10 ? "0" : "") +
                                        std::to_string(second) + "000")));
    }
    const EventRing ring = m_handler->ring();
    EXPECT_EQ(ring.events()[0].alarmName, "Alarm6");
    EXPECT_EQ(ring.newestPos(), 0);
    EXPECT_EQ(ring.writePos(), 1);
    EXPECT_EQ(snapshotFiles().size(), 6u);
}

TEST_F(AlarmHandlerTest, EventsSharingATimestampShareOneFileUntilTheLastOfThemGoes) {
    FakeAlarmServer server;
    startSubscribed(server);
    const fs::path shared = snapshot("20131125103000123");
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "First")));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "Second")));
    ASSERT_TRUE(m_owner.waitForEvents(2));
    EXPECT_EQ(fileContents(shared), fakeJpeg(1)) << "the second download replaces the first";

    pushAlarms(server, 4, 10);  // six kept
    pushAlarms(server, 1, 20);  // evicts "First"
    ASSERT_TRUE(m_owner.waitForEvents(7));
    EXPECT_EQ(fileContents(shared), fakeJpeg(1)) << "\"Second\" still shows it";

    pushAlarms(server, 1, 30);  // evicts "Second"
    ASSERT_TRUE(m_owner.waitForEvents(8));
    EXPECT_FALSE(fs::exists(shared));
    EXPECT_EQ(snapshotFiles().size(), 6u);
}

TEST_F(AlarmHandlerTest, DestructionDeletesEveryKeptSnapshot) {
    FakeAlarmServer server;
    startSubscribed(server);
    pushAlarms(server, 3);
    ASSERT_TRUE(m_owner.waitForEvents(3));
    EXPECT_EQ(snapshotFiles().size(), 3u);
    m_handler.reset();
    EXPECT_TRUE(snapshotFiles().empty());
}

TEST_F(AlarmHandlerTest, KeepingSnapshotsKeepsEvictedAndRemainingFiles) {
    FakeAlarmServer server;
    startChannel(server, SnapshotRetention::KeepAll);
    ASSERT_TRUE(server.waitForSubscriptions(1, kWait));
    pushAlarms(server, 8);
    ASSERT_TRUE(m_owner.waitForEvents(8));
    EXPECT_EQ(m_handler->ring().events().size(), 6u);
    m_handler.reset();
    EXPECT_EQ(snapshotFiles().size(), 8u);
}

// A snapshot that is not stored is reported (and logged where the client has not); its event
// stays listed without a picture.
TEST_F(AlarmHandlerTest, ASnapshotNotStoredIsReportedAndTheEventStaysWithoutIt) {
    struct Case {
        const char* what;
        std::string image;
        const char* logEntry;
    };
    const std::vector<Case> cases = {
        {"no reply", "", "thSocketReqHandler()-Invalid packet header - SOF-"},
        {"not a JPEG", "<kmResponse><kmReturnCode>-1</kmReturnCode></kmResponse>",
         "KRT-kmKRTAlarmHandlerC::fetchImage()-The snapshot is not a JPEG picture.-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScopedDiagLog log(m_root / c.what);
        FakeAlarmServerScript script;
        script.image = [&c](int) { return c.image; };  // an empty one is no frame
        FakeAlarmServer server(script);
        m_app.m_serverAddress = server.address();
        RecordingOwner owner;
        {
            kmKRTAlarmHandlerC handler(m_app, owner);
            handler.requestAlarmRestart();
            ASSERT_TRUE(server.waitForSubscriptions(1, kWait));
            ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
            ASSERT_TRUE(owner.waitForEvents(1));
        }
        EXPECT_EQ(owner.events()[0].imagePath, snapshot("20131125103000123"));
        EXPECT_EQ(owner.imagePresent(), std::vector<bool>{false});
        EXPECT_TRUE(snapshotFiles().empty());
        EXPECT_EQ(owner.statuses().back().lostSnapshots, 1);
        EXPECT_EQ(log.entriesContaining(c.logEntry), 1);
    }
}

TEST_F(AlarmHandlerTest, RecvErrorAsAPayloadIsTakenAsAFailedConnection) {
    FakeAlarmServer server;
    startSubscribed(server);
    ASSERT_TRUE(server.push("Recv Error"));
    ASSERT_TRUE(server.waitForSubscriptions(2, kWait));
    EXPECT_TRUE(server.waitForOnePushConnection(kWait)) << "the first connection is closed";
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    EXPECT_TRUE(m_owner.waitForEvents(1)) << "alarms arrive on the new connection";
}

TEST_F(AlarmHandlerTest, AMessageThatIsNotAnAlarmIsDroppedWithOneLogEntry) {
    const ScopedDiagLog log(m_root / "log");
    setMessageSink([](std::string_view) {});
    FakeAlarmServer server;
    startSubscribed(server);
    ASSERT_TRUE(server.push("not xml <"));
    ASSERT_TRUE(server.push("<kmResponse><kmReturnCode>1</kmReturnCode></kmResponse>"));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    ASSERT_TRUE(m_owner.waitForEvents(1));
    setMessageSink({});
    EXPECT_EQ(log.entriesContaining("KRT-kmKRTAlarmHandlerC::fnCCResponseData() - Invalid "
                                    "Responce data from server.--"),
              2);
    EXPECT_EQ(m_owner.events().size(), 1u);
    EXPECT_EQ(server.subscriptionCount(), 1) << "the connection stays";
}

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

TEST_F(AlarmHandlerTest, AReplyThatIsNotAFrameIsRetriedOnANewConnectionOnly) {
    FakeAlarmServerScript script;
    script.badFrameFirstSubscriptions = 1;
    FakeAlarmServer server(script);
    startChannel(server);
    ASSERT_TRUE(server.waitForSubscriptions(2, kWait));
    // Closing the first connection ends its receiver; that must not restart the second.
    EXPECT_TRUE(server.waitForOnePushConnection(kWait));
    EXPECT_FALSE(server.waitForSubscriptions(3, kQuietPeriod));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123")));
    EXPECT_TRUE(m_owner.waitForEvents(1));
    EXPECT_TRUE(m_handler->connectedFlag());
}

TEST_F(AlarmHandlerTest, ConcurrentRestartRequestsMakeOneSubscriptionAtATime) {
    FakeAlarmServer server;
    startSubscribed(server);
    const auto hammer = [this] {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([this] {
                for (int i = 0; i < 200; ++i) {
                    m_handler->requestAlarmRestart();
                }
            });
        }
    };
    hammer();
    EXPECT_FALSE(server.waitForSubscriptions(2, kQuietPeriod));

    server.dropPushConnection();
    hammer();
    ASSERT_TRUE(server.waitForSubscriptions(2, kWait));
    EXPECT_FALSE(server.waitForSubscriptions(3, kQuietPeriod));
    EXPECT_TRUE(server.waitForOnePushConnection(kWait));
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

TEST(SubscriptionRetryPause, GrowsFromAnImmediateRetryToACapOfThreeSeconds) {
    const std::vector<std::pair<int, std::chrono::milliseconds>> table = {
        {0, 0ms},   {1, 0ms},    {2, 100ms},  {3, 200ms},   {4, 400ms},
        {5, 800ms}, {6, 1600ms}, {7, 3000ms}, {50, 3000ms}, {1000000, 3000ms}};
    for (const auto& [failures, pause] : table) {
        EXPECT_EQ(subscriptionRetryPause(failures), pause) << failures << " failures";
    }
}

}  // namespace
}  // namespace krt
