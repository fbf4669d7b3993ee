// The login conversation and the channel catalogue, spoken with the client's protocol layer.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace krt::sim::test {
namespace {

SimUser user(std::string name, std::string password) {
    SimUser made;
    made.name = std::move(name);
    made.password = std::move(password);
    return made;
}

struct LoginCase {
    const char* label;
    SimUser configured;
    std::string password;  // what the client sends
    bool accepted;         // kmResponseData present
    std::string privilege;
    std::optional<int> returnCode;
    std::vector<std::string> missing;  // children of kmResponseData left out
};

std::vector<LoginCase> loginCases() {
    SimUser operatorUser = user("op", "pw");
    operatorUser.privilege = "Operator";
    SimUser disabled = user("off", "pw");
    disabled.refusalCode = -10011;
    SimUser operatorOnly = user("oper", "pw");
    operatorOnly.refusalCode = -10018;
    SimUser otherRefusal = user("five", "pw");
    otherRefusal.refusalCode = -5;
    SimUser positiveRefusal = user("seven", "pw");
    positiveRefusal.refusalCode = 7;
    SimUser noSite = user("nosite", "pw");
    noSite.omitElements = {"kmSiteName"};
    SimUser noPrivilege = user("nopriv", "pw");
    noPrivilege.omitElements = {"kmDescription", "GetLiveVideoFromServer"};
    SimUser zeroBeside = user("zero", "pw");
    zeroBeside.acceptedReturnCode = 0;
    SimUser noData = user("nodata", "pw");
    noData.omitElements = {"kmResponseData"};
    return {
        {"accepted", user("alice", "secret"), "secret", true, "Doruvareva Client", {}, {}},
        {"other privilege", operatorUser, "pw", true, "Operator", {}, {}},
        {"disabled", disabled, "pw", false, "", -10011, {}},
        {"operator only", operatorOnly, "pw", false, "", -10018, {}},
        {"other refusal", otherRefusal, "pw", false, "", -5, {}},
        {"positive refusal", positiveRefusal, "pw", false, "", 7, {}},
        {"wrong password", user("bob", "right"), "wrong", false, "", -10010, {}},
        {"no site name", noSite, "pw", true, "Doruvareva Client", {}, {"kmSiteName"}},
        {"no privilege",
         noPrivilege,
         "pw",
         true,
         "",
         {},
         {"kmDescription", "GetLiveVideoFromServer"}},
        {"code beside data", zeroBeside, "pw", true, "Doruvareva Client", 0, {}},
        {"neither data nor code", noData, "pw", false, "", {}, {}},
    };
}

TEST(SimLogin, RepliesAsConfiguredForEachUser) {
    for (const LoginCase& c : loginCases()) {
        SCOPED_TRACE(c.label);
        SimConfig config = RunningSim::quietDefault();
        config.users = {c.configured};
        RunningSim sim(config);

        const XmlNode root = sim.requestXml(loginPayload(c.configured.name, c.password));

        ASSERT_TRUE(root);
        const XmlNode data = root.child("kmResponseData");
        EXPECT_EQ(static_cast<bool>(data), c.accepted);
        EXPECT_EQ(static_cast<bool>(root.child("kmReturnCode")), c.returnCode.has_value());
        if (c.returnCode) {
            EXPECT_EQ(root.childInt("kmReturnCode"), *c.returnCode);
        }
        if (!c.accepted) {
            continue;
        }
        EXPECT_EQ(data.childText("kmDescription"), c.privilege);
        for (const char* element : {"kmDescription", "kmNumberOfSupportedCameras", "kmSiteName",
                                    "GetLiveVideoFromServer"}) {
            const bool expectMissing = std::find(c.missing.begin(), c.missing.end(),
                                                 std::string(element)) != c.missing.end();
            EXPECT_EQ(static_cast<bool>(data.child(element)), !expectMissing) << element;
        }
    }
}

TEST(SimLogin, EscapedCharactersInNameAndPasswordAreReadBack) {
    SimConfig config = RunningSim::quietDefault();
    config.users = {user("a<b&c", "p>w&\"x")};
    RunningSim sim(config);

    const XmlNode root = sim.requestXml(loginPayload("a<b&c", "p>w&\"x"));

    EXPECT_TRUE(root.child("kmResponseData"));
}

TEST(SimLogin, DefaultUserIsTheLoginDialogsDefault) {
    RunningSim sim;
    const XmlNode root = sim.requestXml(loginPayload(kDemoUser, kDemoPassword));
    EXPECT_EQ(root.child("kmResponseData").childText("kmDescription"), kClientPrivilege);
    EXPECT_EQ(root.child("kmResponseData").childInt("kmNumberOfSupportedCameras"), 9);
}

struct VersionCase {
    const char* label;
    std::string configuredVersion;
    std::vector<FaultMode> faults;
    int returnCode;
    std::string description;
};

TEST(SimVersion, ReportsTheConfiguredVersionOrRefuses) {
    FaultMode refuse;
    refuse.kind = FaultKind::Refuse;
    refuse.request = "getMobileClientCommunicationVersion";
    const std::vector<VersionCase> cases = {
        {"client's version", std::string(kClientProtocolVersion), {}, 1, "MobileClient-02-00-01"},
        {"other version", "MobileClient-01-09-00", {}, 1, "MobileClient-01-09-00"},
        {"return code 0", std::string(kClientProtocolVersion), {refuse}, 0, "Request refused"},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = RunningSim::quietDefault();
        config.protocolVersion = c.configuredVersion;
        config.faults = c.faults;
        RunningSim sim(config);

        const XmlNode root = sim.requestXml(versionRequest());

        EXPECT_EQ(root.childInt("kmReturnCode"), c.returnCode);
        EXPECT_EQ(root.childText("kmDescription"), c.description);
    }
}

std::vector<std::string> listedIds(const XmlNode& root) {
    std::vector<std::string> ids;
    for (const XmlNode& id : root.child("VideoChannels").children("ChannelID")) {
        ids.push_back(id.text());
    }
    return ids;
}

TEST(SimCatalogue, ListsTheConfiguredIdsInOrder) {
    struct Case {
        const char* label;
        std::optional<std::vector<std::string>> channelList;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"default", std::nullopt, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}},
        {"repeats", std::vector<std::string>{"A", "B", "A"}, {"A", "B", "A"}},
        {"empty ID", std::vector<std::string>{"1", "", "2"}, {"1", "", "2"}},
        {"none", std::vector<std::string>{}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = RunningSim::quietDefault();
        config.channelList = c.channelList;
        RunningSim sim(config);

        const XmlNode root = sim.requestXml(channelListRequest(kDemoUser));

        ASSERT_TRUE(root.child("VideoChannels"));
        EXPECT_EQ(listedIds(root), c.expected);
    }
}

TEST(SimCatalogue, ListCanLackVideoChannelsAndIsRefusedToStrangers) {
    SimConfig config = RunningSim::quietDefault();
    config.listWithoutVideoChannels = true;
    RunningSim withoutList(config);
    EXPECT_FALSE(withoutList.requestXml(channelListRequest(kDemoUser)).child("VideoChannels"));

    RunningSim sim;
    const XmlNode stranger = sim.requestXml(channelListRequest("nobody"));
    EXPECT_FALSE(stranger.child("VideoChannels"));
    EXPECT_LE(stranger.childInt("kmReturnCode"), 0);
}

TEST(SimCatalogue, DetailsCarryEveryFieldUnlessLeftOut) {
    SimConfig config = RunningSim::quietDefault();
    SimChannel gate;
    gate.id = "Gate";
    gate.description = "North gate";
    gate.type = "Box";
    gate.width = 320;
    gate.height = 240;
    gate.recWidth = 704;
    gate.recHeight = 576;
    SimChannel narrow = gate;
    narrow.id = "NoWidth";
    narrow.omitElements = {"Width"};
    SimChannel bare = gate;
    bare.id = "Bare";
    bare.omitElements = {"VideoChannel"};
    config.channels = {gate, narrow, bare};
    RunningSim sim(config);

    const XmlNode full =
        sim.requestXml(channelRequest("getVideoChannelDetails", "Gate")).child("VideoChannels");
    const XmlNode details = full.child("VideoChannel");
    EXPECT_EQ(details.childText("ChannelID"), "Gate");
    EXPECT_EQ(details.childText("ChannelDescription"), "North gate");
    EXPECT_EQ(details.childText("ChannelType"), "Box");
    EXPECT_EQ(details.childInt("Width"), 320);
    EXPECT_EQ(details.childInt("Height"), 240);
    EXPECT_EQ(details.childInt("RecWidth"), 704);
    EXPECT_EQ(details.childInt("RecHeight"), 576);

    const XmlNode noWidth = sim.requestXml(channelRequest("getVideoChannelDetails", "NoWidth"))
                                .child("VideoChannels")
                                .child("VideoChannel");
    EXPECT_FALSE(noWidth.child("Width"));
    EXPECT_EQ(noWidth.childInt("Height"), 240);

    const XmlNode bareList =
        sim.requestXml(channelRequest("getVideoChannelDetails", "Bare")).child("VideoChannels");
    EXPECT_TRUE(bareList);
    EXPECT_FALSE(bareList.child("VideoChannel"));

    EXPECT_FALSE(sim.requestXml(channelRequest("getVideoChannelDetails", "Unknown"))
                     .child("VideoChannels")
                     .child("VideoChannel"));
}

TEST(SimCatalogue, PtzStatusIsTheConfiguredText) {
    struct Case {
        std::optional<std::string> status;
    };
    const std::vector<Case> cases = {{"1"}, {"0"}, {"x"}, {std::nullopt}};
    SimConfig config = RunningSim::quietDefault();
    config.channels.clear();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SimChannel channel;
        channel.id = "C" + std::to_string(i);
        channel.ptzStatus = cases[i].status;
        config.channels.push_back(channel);
    }
    RunningSim sim(config);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const XmlNode root =
            sim.requestXml(channelRequest("getCameraPTZStatus", "C" + std::to_string(i)));
        ASSERT_TRUE(root);
        EXPECT_EQ(static_cast<bool>(root.child("kmDescription")), cases[i].status.has_value());
        EXPECT_EQ(root.childText("kmDescription"), cases[i].status.value_or(""));
    }
}

TEST(SimCatalogue, DefaultHasNineChannelsThreeWithPtz) {
    RunningSim sim;
    const std::vector<std::string> ids = listedIds(sim.requestXml(channelListRequest(kDemoUser)));
    ASSERT_EQ(ids.size(), 9u);
    std::vector<std::string> withPtz;
    for (const std::string& id : ids) {
        if (sim.requestXml(channelRequest("getCameraPTZStatus", id)).childInt("kmDescription") ==
            1) {
            withPtz.push_back(id);
        }
    }
    EXPECT_EQ(withPtz, (std::vector<std::string>{"1", "4", "7"}));
}

TEST(SimCatalogue, RecordsTheRequestsInOrderAndAnswersUnknownOnes) {
    RunningSim sim;
    sim.request(loginPayload(kDemoUser, kDemoPassword));
    sim.request(versionRequest());
    sim.request(channelListRequest(kDemoUser));
    const XmlNode unknown = sim.requestXml(
        "<kmRequest><kmRequestID>formatDisk</kmRequestID><kmRequestData/></kmRequest>");
    int result = 0;
    const Reply garbage = sim.request("this is not XML", &result);

    EXPECT_LE(unknown.childInt("kmReturnCode"), 0);
    EXPECT_EQ(result, 1);
    EXPECT_LE(loadXmlDocument(garbage.text()).childInt("kmReturnCode"), 0);
    EXPECT_EQ(
        sim.server().servedRequests(),
        (std::vector<std::string>{"validateuser", "getMobileClientCommunicationVersion",
                                  "getAuthorizedChannelsIDList", "formatDisk", "(unreadable)"}));
}

// Texts count with the XML around them: a reply that would not fit in a frame is named.
TEST(SimReplies, TooLongForAFrameIsNamedWithItsSize) {
    const auto text = [](std::size_t bytes) { return std::string(bytes, 'x'); };
    struct Case {
        const char* label;
        std::function<void(SimConfig&)> change;
        const char* mentions;  // empty: every reply fits
    };
    const std::vector<Case> cases = {
        {"default", [](SimConfig&) {}, ""},
        {"version", [&](SimConfig& c) { c.protocolVersion = text(16'777'200); }, "version reply"},
        {"site", [&](SimConfig& c) { c.siteName = text(16'777'100); },
         "login reply of user \"demo\""},
        {"privilege", [&](SimConfig& c) { c.users[1].privilege = text(16'777'100); },
         "login reply of user \"operator\""},
        {"list",
         [&](SimConfig& c) {
             c.channelList = {text(8'400'000), text(8'400'000)};
         },
         "channel list reply"},
        {"details", [&](SimConfig& c) { c.channels[4].description = text(16'777'100); },
         "details reply of channel \"5\""},
        {"PTZ", [&](SimConfig& c) { c.channels[0].ptzStatus = text(16'777'200); },
         "PTZ status reply of channel \"1\""},
        {"alarm", [&](SimConfig& c) { c.alarms.names.push_back(text(16'777'100)); },
         "a scheduled alarm would be"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = defaultConfig();
        c.change(config);
        const std::optional<std::string> oversized = oversizedReply(config);
        EXPECT_EQ(oversized.has_value(), *c.mentions != '\0');
        if (oversized) {
            EXPECT_NE(oversized->find(c.mentions), std::string::npos) << *oversized;
            EXPECT_NE(oversized->find("a frame carries at most 16777215"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace krt::sim::test
