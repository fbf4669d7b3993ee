#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_test_support.h"
#include "login/fake_server.h"
#include "sim/sim_test_support.h"

// krt-cli against krt-sim, both in this process, the simulator configured for each case.
namespace krt {
namespace {

using sim::SimConfig;
using test::runCli;
using test::ScopedEnvironment;
using ::testing::IsEmpty;

constexpr const char* kInvalidDetails =
    "Unable to login to the server. Please check the Username and Password.";
constexpr const char* kErrorWhileLogin = "Error while login.";
constexpr const char* kOldVersion =
    "This is a old version of KRT Client.\nPlease contact Administrator for latest version.";

void addUser(SimConfig& config, const std::function<void(sim::SimUser&)>& shape) {
    sim::SimUser user;
    user.name = "case";
    user.password = "secret";
    shape(user);
    config.users.push_back(user);
}

std::vector<std::string> loginArguments(const std::string& address, const std::string& user,
                                        const std::string& password) {
    return {"--server", address, "--user", user, "--password", password, "--json", "login"};
}

struct LoginCase {
    std::string name;
    std::function<void(SimConfig&)> configure;
    std::string user;
    std::string password;
    int status;
    std::string reason;   // empty where the login succeeds
    std::string message;  // the dialog's message box text
};
void PrintTo(const LoginCase& c, std::ostream* out) {
    *out << c.name;
}

class SimLogin : public ::testing::TestWithParam<LoginCase> {
  protected:
    ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
    ScopedEnvironment noLogDir{"KRT_LOG_DIR", std::nullopt};
};

TEST_P(SimLogin, EndsAsTheDialogWould) {
    const LoginCase& c = GetParam();
    SimConfig config = sim::test::RunningSim::quietDefault();
    c.configure(config);
    sim::test::RunningSim sim(config);

    std::vector<std::string> arguments = loginArguments(sim.address(), c.user, c.password);
    const test::CliRun json = runCli(arguments);
    arguments.erase(std::ranges::find(arguments, "--json"));
    const test::CliRun text = runCli(arguments);

    EXPECT_EQ(json.status, c.status) << json.err;
    EXPECT_EQ(text.status, c.status) << text.err;
    const nlohmann::json document = nlohmann::json::parse(json.out);
    if (c.reason.empty()) {
        EXPECT_EQ(document["result"], "ok");
        EXPECT_THAT(text.err, IsEmpty());
    } else {
        EXPECT_EQ(
            document,
            (nlohmann::json{{"result", "refused"}, {"message", c.message}, {"reason", c.reason}}));
        EXPECT_THAT(json.err, IsEmpty());
        EXPECT_EQ(text.err, c.message + "\n");  // line breaks as in the message box
        EXPECT_THAT(text.out, IsEmpty());
    }
}

const auto kAsIs = [](SimConfig&) {};

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, SimLogin,
    ::testing::Values(
        LoginCase{"Demo", kAsIs, "demo", "demo", 0, "", ""},
        LoginCase{"Disabled", kAsIs, "disabled", "any", 2, "user-disabled",
                  "Error while login,user is disabled.\nPlease use different user for login."},
        LoginCase{"OperatorOnly",
                  [](SimConfig& c) { addUser(c, [](sim::SimUser& u) { u.refusalCode = -10018; }); },
                  "case", "secret", 2, "operator-only",
                  "Unable to login to the server, only users with Operator privilege are allowed "
                  "to login."},
        LoginCase{"WrongPassword", kAsIs, "demo", "wrong", 2, "invalid-user-details",
                  kInvalidDetails},
        LoginCase{"UnknownUser", kAsIs, "nobody", "demo", 2, "invalid-user-details",
                  kInvalidDetails},
        LoginCase{"RefusalZero",
                  [](SimConfig& c) { addUser(c, [](sim::SimUser& u) { u.refusalCode = 0; }); },
                  "case", "secret", 2, "invalid-user-details", kInvalidDetails},
        LoginCase{"RefusalMinusFive",
                  [](SimConfig& c) { addUser(c, [](sim::SimUser& u) { u.refusalCode = -5; }); },
                  "case", "secret", 2, "invalid-user-details", kInvalidDetails},
        LoginCase{"RefusalSeven",
                  [](SimConfig& c) { addUser(c, [](sim::SimUser& u) { u.refusalCode = 7; }); },
                  "case", "secret", 2, "refused-without-reason",
                  "The server refused the login without giving a reason."},
        LoginCase{"OperatorPrivilege", kAsIs, "operator", "operator", 2, "privilege-missing",
                  "Unable to login to the server.\nOnly users with Doruvareva Client privilege "
                  "are allowed to login."},
        LoginCase{"NoUserData",
                  [](SimConfig& c) {
                      addUser(c, [](sim::SimUser& u) { u.omitElements = {"kmResponseData"}; });
                  },
                  "case", "secret", 2, "invalid-reply", kErrorWhileLogin},
        LoginCase{"NoPrivilege",
                  [](SimConfig& c) {
                      addUser(c, [](sim::SimUser& u) { u.omitElements = {"kmDescription"}; });
                  },
                  "case", "secret", 2, "invalid-reply", kErrorWhileLogin},
        LoginCase{"NoNumberOfCameras",
                  [](SimConfig& c) {
                      addUser(c, [](sim::SimUser& u) {
                          u.omitElements = {"kmNumberOfSupportedCameras"};
                      });
                  },
                  "case", "secret", 2, "invalid-reply", kErrorWhileLogin},
        LoginCase{"NoSiteName",
                  [](SimConfig& c) {
                      addUser(c, [](sim::SimUser& u) { u.omitElements = {"kmSiteName"}; });
                  },
                  "case", "secret", 2, "invalid-reply", kErrorWhileLogin},
        LoginCase{"NoLiveVideoFlag",
                  [](SimConfig& c) {
                      addUser(c,
                              [](sim::SimUser& u) { u.omitElements = {"GetLiveVideoFromServer"}; });
                  },
                  "case", "secret", 2, "invalid-reply", kErrorWhileLogin},
        LoginCase{
            "UserDataBesideReturnCodeZero",
            [](SimConfig& c) { addUser(c, [](sim::SimUser& u) { u.acceptedReturnCode = 0; }); },
            "case", "secret", 0, "", ""},
        LoginCase{"VersionMismatch",
                  [](SimConfig& c) { c.protocolVersion = "MobileClient-02-00-02"; }, "demo", "demo",
                  2, "version-mismatch", kOldVersion},
        LoginCase{"VersionReturnCodeZero",
                  [](SimConfig& c) {
                      sim::FaultMode refuse;
                      refuse.kind = sim::FaultKind::Refuse;
                      refuse.request = "getMobileClientCommunicationVersion";
                      refuse.code = 0;
                      c.faults.push_back(refuse);
                  },
                  "demo", "demo", 2, "version-mismatch", kOldVersion}),
    test::CaseName{});

class SimCatalogue : public ::testing::Test {
  protected:
    // The channel table krt-cli printed for demo/demo.
    nlohmann::json channelsOf(const SimConfig& simConfig) {
        sim::test::RunningSim sim(simConfig);
        const test::CliRun run = runCli(loginArguments(sim.address(), "demo", "demo"));
        EXPECT_EQ(run.status, 0) << run.err;
        return nlohmann::json::parse(run.out)["channels"];
    }

    static sim::SimChannel channel(const std::string& id, std::optional<std::string> ptz = "0") {
        sim::SimChannel made;
        made.id = id;
        made.description = "Camera " + id;
        made.width = 640;
        made.height = 480;
        made.recWidth = 320;
        made.recHeight = 240;
        made.ptzStatus = std::move(ptz);
        return made;
    }

    SimConfig config = sim::test::RunningSim::quietDefault();
    ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
};

TEST_F(SimCatalogue, DefaultSimulatorListsItsNineChannels) {
    const nlohmann::json channels = channelsOf(config);

    ASSERT_EQ(channels.size(), 9u);
    for (std::size_t index = 0; index < channels.size(); ++index) {
        EXPECT_EQ(channels[index]["index"], index);
        EXPECT_EQ(channels[index]["id"], std::to_string(index + 1));
        EXPECT_EQ(channels[index]["detailsLoaded"], true);
        EXPECT_EQ(channels[index]["ptz"], index == 0 || index == 3 || index == 6);
    }
    EXPECT_EQ(channels[0]["description"], "Main Gate");
}

TEST_F(SimCatalogue, RepeatedIdLeavesAnEmptyRecordAtTheEnd) {
    config.channels = {channel("A"), channel("B")};
    config.channelList = std::vector<std::string>{"A", "B", "A"};

    const nlohmann::json channels = channelsOf(config);

    ASSERT_EQ(channels.size(), 3u);
    EXPECT_EQ(channels[0]["id"], "A");
    EXPECT_EQ(channels[1]["id"], "B");
    EXPECT_EQ(channels[2], nlohmann::json::parse(R"({"index":2,"id":"","description":"","type":"",
        "width":0,"height":0,"recWidth":0,"recHeight":0,"detailsLoaded":false,"ptz":false})"));
}

TEST_F(SimCatalogue, DetailsWithoutWidthStoreZero) {
    config.channels = {channel("A")};
    config.channels[0].omitElements = {"Width"};

    const nlohmann::json channels = channelsOf(config);

    ASSERT_EQ(channels.size(), 1u);
    EXPECT_EQ(channels[0]["width"], 0);
    EXPECT_EQ(channels[0]["height"], 480);
    EXPECT_EQ(channels[0]["recWidth"], 320);
    EXPECT_EQ(channels[0]["detailsLoaded"], true);
}

TEST_F(SimCatalogue, PtzIsOnOnlyForTheIntegerOne) {
    config.channels = {channel("one", "1"), channel("zero", "0"), channel("missing", std::nullopt),
                       channel("x", "x")};

    const nlohmann::json channels = channelsOf(config);

    ASSERT_EQ(channels.size(), 4u);
    EXPECT_EQ(channels[0]["ptz"], true);
    EXPECT_EQ(channels[1]["ptz"], false);
    EXPECT_EQ(channels[2]["ptz"], false);
    EXPECT_EQ(channels[3]["ptz"], false);
}

TEST_F(SimCatalogue, ListWithoutVideoChannelsStillLogsIn) {
    config.listWithoutVideoChannels = true;

    EXPECT_THAT(channelsOf(config), IsEmpty());
}

TEST(SimServerDown, ShowsTheConnectionMessage) {
    ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
    const test::CliRun run = runCli(
        {"--server", test::deadLoopbackAddress(), "--user", "demo", "--password", "demo", "login"});

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Unable to connect to the server\n");
}

}  // namespace
}  // namespace krt
