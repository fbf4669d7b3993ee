#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "login/channel_catalogue.h"
#include "login/fake_server.h"
#include "protocol/requests.h"

namespace krt {
namespace {

using test::channelListReply;
using test::detailsReply;
using test::FakeKrtServer;
using test::LogCapture;
using test::ptzReply;
using test::ServerReplies;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

constexpr const char* kInvalidList =
    "KRT-CkmKRTZededUzeriZeraveDlg::getListOfVideos-Invalid response 1-";

// A server that knows channels A, B and C; only B accepts PTZ.
ServerReplies threeChannelServer(const std::vector<std::string>& listedIds) {
    ServerReplies replies;
    replies.channelList = channelListReply(listedIds);
    for (const std::string id : {"A", "B", "C"}) {
        replies.details[id] = detailsReply(id, "Camera " + id);
        replies.ptz[id] = ptzReply(id == "B" ? "1" : "0");
    }
    return replies;
}

VideoChannel loaded(const std::string& id, bool ptz) {
    return {id, "Camera " + id, "Fixed", 320, 240, 640, 480, true, ptz};
}

class CatalogueTest : public ::testing::Test {
  protected:
    void SetUp() override { app.m_userName = "guard"; }
    void useServer(const FakeKrtServer& server) { app.m_serverAddress = server.address(); }

    LogCapture log;
    AppState app;
};

struct ListCase {
    std::string name;
    std::vector<std::string> listedIds;
    std::vector<VideoChannel> table;
    std::vector<std::string> requests;  // after the list request
};
void PrintTo(const ListCase& c, std::ostream* out) {
    *out << c.name;
}

class ChannelList : public CatalogueTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ChannelList, FetchesEachNewIdOnceAndCountsEveryListedId) {
    const ListCase& c = GetParam();
    FakeKrtServer server(threeChannelServer(c.listedIds));
    useServer(server);

    EXPECT_TRUE(getListOfVideos(app));

    EXPECT_EQ(app.m_channels, c.table);
    // The list first; the channels' requests then go out over several connections at once.
    const std::vector<std::string> requests = server.requestIds();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), "getAuthorizedChannelsIDList");
    EXPECT_THAT(std::vector<std::string>(requests.begin() + 1, requests.end()),
                ::testing::UnorderedElementsAreArray(c.requests));
    EXPECT_EQ(server.connectionCount(), static_cast<int>(c.requests.size() + 1));
    EXPECT_EQ(server.requests()[0].payload, channelListRequest("guard"));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ChannelList,
    ::testing::Values(
        ListCase{"ThreeDistinct",
                 {"C", "A", "B"},
                 {loaded("C", false), loaded("A", false), loaded("B", true)},
                 {"getVideoChannelDetails:C", "getCameraPTZStatus:C", "getVideoChannelDetails:A",
                  "getCameraPTZStatus:A", "getVideoChannelDetails:B", "getCameraPTZStatus:B"}},
        ListCase{"RepeatedId",
                 {"A", "B", "A"},
                 {loaded("A", false), loaded("B", true), {}},
                 {"getVideoChannelDetails:A", "getCameraPTZStatus:A", "getVideoChannelDetails:B",
                  "getCameraPTZStatus:B"}},
        // Only the exact ID is a repeat: another letter case is another channel to the server.
        ListCase{"RepeatedInOtherCase",
                 {"B", "b"},
                 {loaded("B", true), {}},
                 {"getVideoChannelDetails:B", "getCameraPTZStatus:B", "getVideoChannelDetails:b",
                  "getCameraPTZStatus:b"}},
        ListCase{"EmptyId",
                 {"", "A", ""},
                 {loaded("A", false), {}, {}},
                 {"getVideoChannelDetails:A", "getCameraPTZStatus:A"}},
        ListCase{"EmptyList", {}, {}, {}}),
    test::CaseName{});

// Details come over kCatalogueConnections connections at once: the first requests are held
// until that many are under way, and none beyond; the table keeps the list's order whatever
// order the replies come in.
TEST_F(CatalogueTest, FetchesOverEightConnectionsAtOnceAndKeepsTheListOrder) {
    std::vector<std::string> ids;
    ServerReplies replies;
    for (int i = 0; i < 20; ++i) {
        ids.push_back("cam" + std::to_string(i));
        replies.details[ids.back()] = detailsReply(ids.back(), "Camera " + ids.back());
        replies.ptz[ids.back()] = ptzReply(i % 2 == 0 ? "1" : "0");
    }
    replies.channelList = channelListReply(ids);
    std::mutex mutex;
    std::condition_variable changed;
    int underWay = 0;
    int mostUnderWay = 0;
    int heldUntilFull = 0;
    FakeKrtServer server([&](const test::ReceivedRequest& request) {
        std::unique_lock lock(mutex);
        mostUnderWay = std::max(mostUnderWay, ++underWay);
        changed.notify_all();
        if (request.requestId == "getVideoChannelDetails" &&
            heldUntilFull < kCatalogueConnections) {
            ++heldUntilFull;
            changed.wait_for(lock, 5s, [&] { return underWay >= kCatalogueConnections; });
        }
        --underWay;
        return replies(request);
    });
    useServer(server);

    EXPECT_TRUE(getListOfVideos(app));

    EXPECT_EQ(mostUnderWay, kCatalogueConnections);
    ASSERT_EQ(app.m_channels.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(app.m_channels[i], loaded(ids[i], i % 2 == 0)) << i;
    }
    EXPECT_EQ(server.connectionCount(), 1 + 2 * 20);
}

TEST_F(CatalogueTest, IdsBeyondTheLimitAreIgnoredWithOneLogEntry) {
    std::vector<std::string> ids(kMaxCatalogueChannels + 2, "");
    ids[0] = "A";
    FakeKrtServer server(threeChannelServer(ids));
    useServer(server);
    std::size_t ignored = 0;

    EXPECT_TRUE(getListOfVideos(app, {}, &ignored));

    EXPECT_EQ(ignored, 2u);
    EXPECT_EQ(app.m_channels.size(), kMaxCatalogueChannels);
    EXPECT_EQ(app.m_channels[0], loaded("A", false));
    EXPECT_THAT(test::logEntries(log),
                ElementsAre("KRT-CkmKRTZededUzeriZeraveDlg::getListOfVideos-Too many channels: 2 "
                            "ignored-"));
}

TEST_F(CatalogueTest, UnknownChannelKeepsItsPlaceWithoutDetails) {
    // "b" has neither details nor PTZ status: both exchanges end without a reply.
    FakeKrtServer server(threeChannelServer({"B", "b", "A"}));
    useServer(server);

    ASSERT_TRUE(getListOfVideos(app));

    EXPECT_EQ(app.m_channels,
              (std::vector<VideoChannel>{loaded("B", true), {}, loaded("A", false)}));
}

struct ListFailureCase {
    std::string name;
    std::optional<std::string> listReply;
    std::vector<std::string> logEntries;
};
void PrintTo(const ListFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class ChannelListFailure : public CatalogueTest,
                           public ::testing::WithParamInterface<ListFailureCase> {};

TEST_P(ChannelListFailure, KeepsThePreviousTable) {
    ServerReplies replies = threeChannelServer({});
    replies.channelList = GetParam().listReply;
    FakeKrtServer server(replies);
    useServer(server);
    const std::vector<VideoChannel> previous = {loaded("Z", true), {}};
    app.m_channels = previous;

    EXPECT_FALSE(getListOfVideos(app));

    EXPECT_EQ(app.m_channels, previous);
    EXPECT_THAT(server.requestIds(), ElementsAre("getAuthorizedChannelsIDList"));
    EXPECT_THAT(test::logEntries(log), ElementsAreArray(GetParam().logEntries));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ChannelListFailure,
    ::testing::Values(ListFailureCase{"NoVideoChannels",
                                      "<kmResponse><ChannelID>A</ChannelID></kmResponse>",
                                      {kInvalidList}},
                      ListFailureCase{"NotXml", "A B C", {kInvalidList}},
                      ListFailureCase{"NoReply",
                                      std::nullopt,
                                      {"Tessaline.exe-kmMgrSocketClient::thSocketReqHandler()-"
                                       "Error in receiving packet header.-"}}),
    test::CaseName{});

TEST_F(CatalogueTest, UnreachableServerKeepsThePreviousTable) {
    app.m_serverAddress = test::deadLoopbackAddress();
    const std::vector<VideoChannel> previous = {loaded("Z", false)};
    app.m_channels = previous;

    EXPECT_FALSE(getListOfVideos(app));

    EXPECT_EQ(app.m_channels, previous);
}

struct DetailsCase {
    std::string name;
    std::optional<std::string> reply;
    VideoChannel record;  // from a record that held ID "7" and width 9 before
};
void PrintTo(const DetailsCase& c, std::ostream* out) {
    *out << c.name;
}

class ChannelDetails : public CatalogueTest, public ::testing::WithParamInterface<DetailsCase> {};

TEST_P(ChannelDetails, FillsTheRecordFromTheReply) {
    ServerReplies replies;
    if (GetParam().reply) {
        replies.details["7"] = *GetParam().reply;
    }
    FakeKrtServer server(replies);
    useServer(server);
    VideoChannel record;
    record.ChannelID = "7";
    record.Width = 9;

    getVideoChannelDetails(app, "7", record);

    EXPECT_EQ(record, GetParam().record);
    EXPECT_EQ(server.requests().at(0).payload, channelRequest("getVideoChannelDetails", "7"));
}

const std::string kLongText = std::string(254, 'd') + "\xC3\xA9" + "tail";  // é straddles 255

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ChannelDetails,
    ::testing::Values(
        DetailsCase{"Complete",
                    detailsReply("7", "Gate"),
                    {"7", "Gate", "Fixed", 320, 240, 640, 480, true, false}},
        DetailsCase{"WithoutWidth",
                    detailsReply("7", "Gate", "<Height>240</Height><RecWidth>640</RecWidth>"),
                    {"7", "Gate", "Fixed", 0, 240, 640, 0, true, false}},
        DetailsCase{"NumbersAsTheCLibraryReadsThem",
                    detailsReply("7", "Gate", "<Width>320px</Width><Height>x</Height>"),
                    {"7", "Gate", "Fixed", 320, 0, 0, 0, true, false}},
        // The reply's ID replaces the requested one, even an empty one.
        DetailsCase{"ReplyRenamesTheChannel",
                    detailsReply("Gate-7", "Gate"),
                    {"Gate-7", "Gate", "Fixed", 320, 240, 640, 480, true, false}},
        DetailsCase{"EmptyVideoChannel",
                    "<r><VideoChannels><VideoChannel/></VideoChannels></r>",
                    {"", "", "", 0, 0, 0, 0, true, false}},
        DetailsCase{"LastChannelWins",
                    "<r><VideoChannels><VideoChannel><ChannelID>1</ChannelID><Width>1</Width>"
                    "</VideoChannel><VideoChannel><ChannelID>2</ChannelID>"
                    "<ChannelDescription>second</ChannelDescription></VideoChannel>"
                    "</VideoChannels></r>",
                    {"2", "second", "", 0, 0, 0, 0, true, false}},
        DetailsCase{
            "NoVideoChannel", "<r><VideoChannels/></r>", {"7", "", "", 9, 0, 0, 0, false, false}},
        DetailsCase{"NotXml", "Gate 320x240", {"7", "", "", 9, 0, 0, 0, false, false}},
        DetailsCase{"NoReply", std::nullopt, {"7", "", "", 9, 0, 0, 0, false, false}},
        DetailsCase{"OverlongTextsAreCutAtACharacterBoundary",
                    detailsReply("7", kLongText),
                    {"7", std::string(254, 'd'), "Fixed", 320, 240, 640, 480, true, false}}),
    test::CaseName{});

struct PtzCase {
    std::string name;
    std::optional<std::string> reply;
    bool enabled;
};
void PrintTo(const PtzCase& c, std::ostream* out) {
    *out << c.name;
}

class PtzStatus : public CatalogueTest, public ::testing::WithParamInterface<PtzCase> {};

TEST_P(PtzStatus, IsOnExactlyForTheIntegerOne) {
    ServerReplies replies = threeChannelServer({"A"});
    if (GetParam().reply) {
        replies.ptz["A"] = *GetParam().reply;
    } else {
        replies.ptz.erase("A");
    }
    FakeKrtServer server(replies);
    useServer(server);

    EXPECT_EQ(getCameraPTZStatus(app, "A"), GetParam().enabled);
    EXPECT_EQ(server.requests().at(0).payload, channelRequest("getCameraPTZStatus", "A"));

    ASSERT_TRUE(getListOfVideos(app));
    ASSERT_EQ(app.channelCount(), 1);
    EXPECT_EQ(app.m_channels[0].PTZEnabled, GetParam().enabled);
    EXPECT_TRUE(app.m_channels[0].DetailsLoaded);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, PtzStatus,
    ::testing::Values(PtzCase{"One", ptzReply("1"), true}, PtzCase{"Zero", ptzReply("0"), false},
                      PtzCase{"LetterX", ptzReply("x"), false},
                      PtzCase{"Two", ptzReply("2"), false},
                      PtzCase{"OneWithTrailingText", ptzReply("1 (on)"), true},
                      PtzCase{"Missing", "<kmResponse><kmReturnCode>1</kmReturnCode></kmResponse>",
                              false},
                      PtzCase{"NotXml", "1", false}, PtzCase{"NoReply", std::nullopt, false}),
    test::CaseName{});

}  // namespace
}  // namespace krt
