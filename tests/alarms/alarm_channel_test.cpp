#include "alarms/alarm_channel.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "alarms/alarm_channel_fixture.h"
#include "support/small_folder.h"

namespace krt {
namespace {

using namespace alarm_test;

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

// Alarms of one timestamp each keep their own picture: the first under the timestamp's name,
// the others beside it; a file already in the folder is never replaced, and a snapshot the
// server did not give keeps its name from the next alarm while its event is kept.
TEST_F(AlarmHandlerTest, EventsSharingATimestampEachKeepTheirOwnFile) {
    FakeAlarmServerScript script;
    script.image = [](int n) { return n == 2 ? std::string() : fakeJpeg(n); };
    FakeAlarmServer server(script);
    startSubscribed(server);
    {
        std::ofstream earlier(snapshot("20131125103000456"));
        earlier << "an earlier run's";
    }
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "First")));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "Second")));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "Lost")));
    ASSERT_TRUE(server.push(alarmXml("20131125103000123", "Fourth")));
    ASSERT_TRUE(server.push(alarmXml("20131125103000456", "Beside")));
    ASSERT_TRUE(m_owner.waitForEvents(5));
    const std::vector<AlarmEvent> events = m_owner.events();
    const std::vector<fs::path> names = {
        snapshot("20131125103000123"), snapshot("20131125103000123-2"),
        snapshot("20131125103000123-3"), snapshot("20131125103000123-4"),
        snapshot("20131125103000456-2")};
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(events[i].imagePath, names[i]) << events[i].alarmName;
    }
    EXPECT_EQ(m_owner.imagePresent(), (std::vector<bool>{true, true, false, true, true}));
    EXPECT_EQ(fileContents(names[0]), fakeJpeg(0));
    EXPECT_EQ(fileContents(names[1]), fakeJpeg(1));
    EXPECT_EQ(fileContents(names[3]), fakeJpeg(3));
    EXPECT_EQ(fileContents(names[4]), fakeJpeg(4));
    EXPECT_EQ(fileContents(snapshot("20131125103000456")), "an earlier run's");

    pushAlarms(server, 2, 10);  // evicts "First"
    ASSERT_TRUE(m_owner.waitForEvents(7));
    EXPECT_FALSE(fs::exists(names[0]));
    EXPECT_EQ(fileContents(names[1]), fakeJpeg(1)) << "\"Second\" still shows its own";
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
            AlarmChannel handler(m_app, owner);
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

// Alarms that arrive while the disk is full still reach the owner, their pictures from memory;
// what cannot be stored (snapshots, the journal) is told with its reason, folder and count
// until writing succeeds again, and nothing written before is lost.
TEST_F(AlarmHandlerTest, AFullDiskIsToldAndThePicturesStillReachTheOwner) {
    // Before the channel starts its threads, so that they see the folder's file system.
    test::SmallFolder folder(m_root / "small", 1024 * 1024);
    m_app.m_snapshotFolder = folder.path() / "EventImages";
    fs::create_directory(m_app.m_snapshotFolder);
    auto journal =
        std::make_shared<AlarmJournal>(folder.path() / "journal", AlarmJournal::Role::writer);
    FakeAlarmServerScript script;
    script.image = [](int n) { return fakeJpeg(n) + std::string(40 * 1024, 'x'); };
    FakeAlarmServer server(script);
    startSubscribed(server, journal);
    const auto push = [&](int second, std::size_t events) {
        ASSERT_TRUE(server.push(alarmXml("2013112510300" + std::to_string(second) + "000")));
        ASSERT_TRUE(m_owner.waitForEvents(events));
    };
    push(0, 1);

    folder.fill();
    push(1, 2);
    push(2, 3);
    ASSERT_TRUE(m_owner.waitForStatus([](const AlarmChannelStatus& status) {
        return status.snapshotTrouble && status.snapshotTrouble->lost == 2 &&
               status.journalTrouble && status.journalTrouble->lost == 2;
    }));
    const AlarmChannelStatus told = m_owner.statuses().back();
    const std::error_code full(folder.fullError(), std::generic_category());
    EXPECT_EQ(told.snapshotTrouble->error, full);
    EXPECT_EQ(told.snapshotTrouble->folder, m_app.m_snapshotFolder);
    EXPECT_EQ(told.journalTrouble->error, full);
    EXPECT_EQ(told.journalTrouble->folder, journal->folder());

    folder.free();
    push(3, 4);
    ASSERT_TRUE(m_owner.waitForStatus([](const AlarmChannelStatus& status) {
        return !status.snapshotTrouble && !status.journalTrouble && status.lostSnapshots == 2;
    }));
    EXPECT_EQ(m_owner.imagePresent(), (std::vector<bool>{true, false, false, true}));
    const std::vector<std::string> handed = m_owner.snapshots();
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(handed[static_cast<std::size_t>(n)], script.image(n)) << n;
    }
    EXPECT_EQ(fileContents(snapshot("20131125103003000")), script.image(3));
    const std::vector<JournalKey> keys = journal->list({});
    std::vector<std::string> kept;
    for (const JournalRow& row : journal->rows(keys)) {
        if (row.kind == JournalRow::Kind::alarm && !row.snapshotName.empty()) {
            kept.push_back(fileContents(journal->snapshotFolder() / row.snapshotName));
        }
    }
    EXPECT_EQ(kept, (std::vector<std::string>{script.image(3), script.image(0)}))
        << "the alarms before and after the full disk, with their snapshots";
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

}  // namespace
}  // namespace krt
