// The configuration: the built-in default, JSON on top of it, and what it refuses.
#include <unistd.h>
#include <chrono>
#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_config.h"
#include "sim_control.h"

namespace krt::sim {
namespace {

TEST(SimConfigDefault, ServesTheDemo) {
    const SimConfig config = defaultConfig();
    ASSERT_EQ(config.channels.size(), 9u);
    int withPtz = 0;
    for (const SimChannel& channel : config.channels) {
        withPtz += channel.ptzEnabled() ? 1 : 0;
        EXPECT_FALSE(channel.id.empty());
    }
    EXPECT_EQ(withPtz, 3);
    const SimUser* demo = config.findUser(kDemoUser);
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(demo->password, kDemoPassword);
    EXPECT_EQ(demo->privilege, kClientPrivilege);
    EXPECT_EQ(config.protocolVersion, "MobileClient-02-00-01");
    EXPECT_GT(config.alarms.intervalSeconds, 0);
}

TEST(SimConfigJson, KeysOverrideTheDefaultAndTheRestStays) {
    const SimConfig config = parseConfig(R"({
        "protocolVersion": "MobileClient-01-00-00",
        "users": [{"name": "u", "password": "p", "refusalCode": -10018,
                   "omit": ["kmSiteName"]}],
        "channelList": ["A", "B", "A", ""],
        "channels": [{"id": "A", "width": 320, "height": 240, "ptz": null,
                      "frameRate": 0, "omit": ["Width"]},
                     {"id": "B", "ptz": "x"}],
        "alarms": {"intervalSeconds": 0, "names": ["Tamper"]},
        "pictureDetail": "camera",
        "faults": [{"kind": "closeAfterBytes", "request": "getAlarmImage", "bytes": 100,
                    "times": 1},
                   {"kind": "trickle", "pieceBytes": 3, "pauseMs": 0}]
    })");
    EXPECT_EQ(config.protocolVersion, "MobileClient-01-00-00");
    ASSERT_EQ(config.users.size(), 1u);
    EXPECT_EQ(config.users[0].refusalCode, -10018);
    EXPECT_EQ(config.users[0].omitElements, std::set<std::string>{"kmSiteName"});
    EXPECT_EQ(config.listedChannelIds(), (std::vector<std::string>{"A", "B", "A", ""}));
    ASSERT_EQ(config.channels.size(), 2u);
    EXPECT_FALSE(config.channels[0].ptzStatus.has_value());
    EXPECT_EQ(config.channels[0].frameRate, 0.0);
    EXPECT_EQ(config.channels[1].ptzStatus, "x");
    EXPECT_FALSE(config.channels[1].ptzEnabled());
    EXPECT_EQ(config.channels[1].width, SimChannel{}.width);
    EXPECT_EQ(config.alarms.intervalSeconds, 0);
    EXPECT_EQ(config.alarms.names, std::vector<std::string>{"Tamper"});
    EXPECT_EQ(config.pictureDetail, PictureDetail::Camera);
    ASSERT_EQ(config.faults.size(), 2u);
    EXPECT_EQ(config.faults[0].kind, FaultKind::CloseAfterBytes);
    EXPECT_TRUE(config.faults[0].appliesTo("getAlarmImage"));
    EXPECT_FALSE(config.faults[0].appliesTo("validateuser"));
    EXPECT_EQ(config.faults[0].times, 1);
    EXPECT_TRUE(config.faults[1].appliesTo("validateuser"));
    EXPECT_EQ(config.faults[1].pieceBytes, 3u);
    // Untouched keys keep the default.
    EXPECT_EQ(config.siteName, defaultConfig().siteName);
}

TEST(SimConfigJson, DumpReadsBackToTheSameConfiguration) {
    SimConfig original = defaultConfig();
    original.channelList = std::vector<std::string>{"1", "1", ""};
    FaultMode fault;
    fault.kind = FaultKind::ReplyText;
    fault.request = "setalarmnotifications";
    fault.text = "not XML";
    original.faults = {fault};
    original.channels[2].ptzStatus.reset();
    original.pictureDetail = PictureDetail::Camera;

    const SimConfig copy = parseConfig(configToJson(original));

    EXPECT_EQ(configToJson(copy), configToJson(original));
    EXPECT_EQ(copy.listedChannelIds(), original.listedChannelIds());
    EXPECT_FALSE(copy.channels[2].ptzStatus.has_value());
}

TEST(SimConfigJson, RejectsMistakesWithTheirPlace) {
    struct Case {
        const char* json;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"{", "not valid JSON"},
        {"[]", "must be an object"},
        {R"({"chanels": []})", "chanels"},
        {R"({"users": [{"password": "p"}]})", "users[0].name: is missing"},
        {R"({"users": [{"name": ""}]})", "users[0].name: must not be empty"},
        {R"({"users": [{"name": "u", "omit": ["kmReturnCode"]}]})", "kmReturnCode"},
        {R"({"channels": [{"id": "A", "width": "wide"}]})", "channels[0].width"},
        {R"({"channels": [{"id": "A", "width": 0}]})", "channels[0].width"},
        {R"({"channels": [{"id": "A"}, {"id": "A"}]})", "used twice"},
        {R"({"channels": [{"id": ""}]})", "channels[0].id"},
        {R"({"faults": [{"kind": "explode"}]})", "explode"},
        {R"({"faults": [{"delayMs": 5}]})", "faults[0].kind: is missing"},
        {R"({"alarms": {"interval": 5}})", "alarms: unknown key \"interval\""},
        {R"({"faults": [{"kind": "replyText"}]})", "faults[0].text"},
        {R"({"faults": [{"kind": "trickle", "pieceBytes": 0}]})", "pieceBytes"},
        {R"({"alarms": {"names": []}})", "alarms.names"},
        {R"({"jpegQuality": 101})", "jpegQuality"},
        {R"({"pictureDetail": "hd"})", "pictureDetail: unknown picture detail \"hd\""},
        {R"({"pictureDetail": 1})", "pictureDetail: has the wrong type"},
        {R"({"idleTimeoutMs": 0})", "idleTimeoutMs"},
        {R"({"faults": [{"kind": "pushText"}]})", "faults[0].text"},
        {R"({"faults": [{"kind": "overstatedLength"}]})", "faults[0].bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            parseConfig(c.json);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_NE(std::string(error.what()).find(c.mentions), std::string::npos)
                << error.what();
        }
    }
}

TEST(SimConfigJson, EveryNumberIsCheckedBeforeItIsConverted) {
    struct Case {
        const char* json;
        const char* mentions;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {R"({"siteName": "x", "jpegQuality": 1e400})", "not valid JSON"},
        {R"({"jpegQuality": 1e300})", "jpegQuality"},
        {R"({"jpegQuality": -1e300})", "jpegQuality"},
        {R"({"jpegQuality": 80.5})", "jpegQuality"},
        {R"({"badLoginCode": 2147483648})", "badLoginCode"},
        {R"({"badLoginCode": 18446744073709551615})", "badLoginCode"},
        {R"({"badLoginCode": -2147483649.0})", "badLoginCode"},
        {R"({"alarmImageMinBytes": -1})", "alarmImageMinBytes"},
        {R"({"alarmImageMinBytes": 1.5})", "alarmImageMinBytes"},
        {R"({"alarmImageMinBytes": 1.8446744073709552e19})", "alarmImageMinBytes"},
        {R"({"idleTimeoutMs": true})", "idleTimeoutMs"},
        {R"({"channels": [{"id": "A", "frameRate": 1e300}]})", "frameRate"},
        {R"({"channels": [{"id": "A", "width": 1e10}]})", "width"},
        {R"({"users": [{"name": "u", "refusalCode": 1e19}]})", "refusalCode"},
        {R"({"faults": [{"kind": "delay", "times": 4294967296}]})", "times"},
        {R"({"faults": [{"kind": "trickle", "pieceBytes": -5}]})", "pieceBytes"},
        {R"({"alarms": {"intervalSeconds": 0.25}})", "intervalSeconds"},
        {R"({"jpegQuality": 80.0})", ""},
        {R"({"badLoginCode": -2147483648})", ""},
        {R"({"channels": [{"id": "A", "frameRate": 2.5}]})", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            parseConfig(c.json);
            EXPECT_STREQ(c.mentions, "") << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_STRNE(c.mentions, "") << error.what();
            EXPECT_NE(std::string(error.what()).find(c.mentions), std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(parseConfig(R"({"jpegQuality": 80.0})").jpegQuality, 80);
    EXPECT_EQ(parseConfig(R"({"badLoginCode": -2147483648})").badLoginCode, INT_MIN);
}

// Whatever a key sizes goes out in one frame, whose payload holds at most 16,777,215 bytes.
TEST(SimConfigJson, SizesStayWithinWhatAFrameCarries) {
    const auto text = [](std::size_t bytes) { return std::string(bytes, 'x'); };
    const auto fault = [](const std::string& fields) {
        return R"({"faults": [{)" + fields + "}]}";
    };
    struct Case {
        std::string json;
        const char* mentions;  // empty: accepted
    };
    const std::vector<Case> cases = {
        // The padding may overshoot by 3 bytes.
        {R"({"alarmImageMinBytes": 16777212})", ""},
        {R"({"alarmImageMinBytes": 16777213})", "alarmImageMinBytes"},
        {R"({"alarmImageMinBytes": 16777216})", "alarmImageMinBytes"},
        // A frame of one byte claims at most 16,777,214 more.
        {fault(R"("kind": "overstatedLength", "bytes": 16777214)"), ""},
        {fault(R"("kind": "overstatedLength", "bytes": 16777215)"), "faults[0].bytes"},
        // A piece of a frame: at most the whole of the largest, header included.
        {fault(R"("kind": "trickle", "pieceBytes": 16777225)"), ""},
        {fault(R"("kind": "trickle", "pieceBytes": 16777226)"), "faults[0].pieceBytes"},
        {fault(R"("kind": "pushText", "text": ")" + text(16'777'216) + "\""), "faults[0].text"},
        // A text that makes a reply too long (every reply: SimReplies.TooLongForAFrame...).
        {R"({"siteName": ")" + text(16'777'100) + "\"}", "login reply of user \"demo\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json.substr(0, 80));
        try {
            parseConfig(c.json);
            EXPECT_STREQ(c.mentions, "") << "accepted";
        } catch (const ConfigError& error) {
            EXPECT_STRNE(c.mentions, "") << std::string(error.what()).substr(0, 200);
            EXPECT_NE(std::string(error.what()).find(c.mentions), std::string::npos)
                << std::string(error.what()).substr(0, 200);
        }
    }
}

TEST(SimConfigJson, LoadsAFileAndNamesItInErrors) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("krt-sim-config-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path good = folder / "good.json";
    const std::filesystem::path bad = folder / "bad.json";
    std::ofstream(good) << R"({"siteName": "Depot"})";
    std::ofstream(bad) << R"({"siteName": 5})";

    EXPECT_EQ(loadConfigFile(good).siteName, "Depot");
    EXPECT_THROW(loadConfigFile(folder / "missing.json"), ConfigError);
    try {
        loadConfigFile(bad);
        ADD_FAILURE() << "accepted";
    } catch (const ConfigError& error) {
        EXPECT_NE(std::string(error.what()).find("bad.json"), std::string::npos);
    }
    std::filesystem::remove_all(folder);
}

TEST(SimControlLine, ParsesTheCommands) {
    using Kind = ControlCommand::Kind;
    using Time = AlarmTime::Kind;
    struct Case {
        const char* line;
        Kind kind;
        const char* channel;
        const char* name;
        std::optional<Time> time = {};
        const char* timeText = "";
        long long offsetSeconds = 0;
    };
    const std::vector<Case> cases = {
        {"alarm 7 Motion", Kind::Alarm, "7", "Motion"},
        {"  alarm   A1   Door Open  \r", Kind::Alarm, "A1", "Door Open"},
        {"alarm 3", Kind::Alarm, "3", "Manual Alarm"},
        {"alarm", Kind::Invalid, "", ""},
        {"alarm 3 Motion @20240101120000000", Kind::Alarm, "3", "Motion @20240101120000000"},
        {"alarm-at 20240229235959123 4 Door Open", Kind::Alarm, "4", "Door Open", Time::Exact,
         "20240229235959123"},
        {"alarm-at -300 4", Kind::Alarm, "4", "Manual Alarm", Time::Relative, "", -300},
        {"alarm-at +90 5 Motion", Kind::Alarm, "5", "Motion", Time::Relative, "", 90},
        {"alarm-at 20230229120000000 4", Kind::Invalid, "", ""},  // no 29 February in 2023
        {"alarm-at 20240101240000000 4", Kind::Invalid, "", ""},
        {"alarm-at 2024010112000000 4", Kind::Invalid, "", ""},
        {"alarm-at yesterday 4", Kind::Invalid, "", ""},
        {"alarm-at -99999999999999999999 4", Kind::Invalid, "", ""},
        {"alarm-at -300", Kind::Invalid, "", ""},
        {"alarm-raw ../../etc/passwd 2 Motion", Kind::Alarm, "2", "Motion", Time::Raw,
         "../../etc/passwd"},
        {"alarm-raw \"\" 2", Kind::Alarm, "2", "Manual Alarm", Time::Raw, ""},
        {"alarm-raw 99999999999999999999 2", Kind::Alarm, "2", "Manual Alarm", Time::Raw,
         "99999999999999999999"},
        {"alarm-raw", Kind::Invalid, "", ""},
        {"help", Kind::Help, "", ""},
        {"quit", Kind::Quit, "", ""},
        {"exit", Kind::Quit, "", ""},
        {"   ", Kind::Empty, "", ""},
        {"alarms 7 Motion", Kind::Invalid, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ControlCommand command = parseControlLine(c.line);
        EXPECT_EQ(command.kind, c.kind);
        EXPECT_EQ(command.channelId, c.channel);
        EXPECT_EQ(command.alarmName, c.name);
        EXPECT_EQ(command.error.empty(), c.kind != Kind::Invalid);
        ASSERT_EQ(command.time.has_value(), c.time.has_value());
        if (command.time) {
            EXPECT_EQ(command.time->kind, *c.time);
            EXPECT_EQ(command.time->text, c.timeText);
            EXPECT_EQ(command.time->offset.count(), c.offsetSeconds);
        }
    }
}

TEST(SimControlLine, RelativeAlarmTimesAreLocalTimeThatFarFromNow) {
    const auto now =
        std::chrono::system_clock::from_time_t(1'700'000'000) + std::chrono::milliseconds(250);
    for (const long long offset : {-300LL, 0LL, 90LL, -86'400LL * 400}) {
        SCOPED_TRACE(offset);
        const std::string stamp =
            alarmTimestamp({AlarmTime::Kind::Relative, "", std::chrono::seconds(offset)}, now);
        ASSERT_EQ(stamp.size(), 17u);
        std::tm local{};
        local.tm_year = std::stoi(stamp.substr(0, 4)) - 1900;
        local.tm_mon = std::stoi(stamp.substr(4, 2)) - 1;
        local.tm_mday = std::stoi(stamp.substr(6, 2));
        local.tm_hour = std::stoi(stamp.substr(8, 2));
        local.tm_min = std::stoi(stamp.substr(10, 2));
        local.tm_sec = std::stoi(stamp.substr(12, 2));
        local.tm_isdst = -1;
        EXPECT_EQ(std::mktime(&local), 1'700'000'000 + offset);
        EXPECT_EQ(stamp.substr(14), "250");
    }
    EXPECT_EQ(alarmTimestamp({AlarmTime::Kind::Raw, "x<y", {}}, now), "x<y");
}

}  // namespace
}  // namespace krt::sim
