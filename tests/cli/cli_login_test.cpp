#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_test_support.h"
#include "login/fake_server.h"
#include "login/login_sequence.h"
#include "support/log_capture.h"

namespace krt {
namespace {

using test::acceptedUserReply;
using test::channelListReply;
using test::detailsReply;
using test::FakeKrtServer;
using test::ptzReply;
using test::runCli;
using test::ScopedEnvironment;
using test::ServerReplies;
using test::versionReply;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

ServerReplies twoChannelServer() {
    ServerReplies replies;
    replies.validateUser = acceptedUserReply();
    replies.version = versionReply();
    replies.channelList = channelListReply({"7", "cam-2", "7"});
    replies.details["7"] = detailsReply("7", "Gate");
    replies.details["cam-2"] =
        detailsReply("cam-2", "Dock\tnorth\x1B[2J", "<Width>640</Width><Height>480</Height>");
    replies.ptz["7"] = ptzReply("0");
    replies.ptz["cam-2"] = ptzReply("1");
    return replies;
}

std::vector<std::string> loginArguments(const std::string& server,
                                        std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"--server", server,       "--user",
                                          "guard",    "--password", "pass"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back("login");
    return arguments;
}

class CliLogin : public ::testing::Test {
  protected:
    // No password or log folder leaks in from the environment of the test run.
    ScopedEnvironment noPassword{"KRT_PASSWORD", std::nullopt};
    ScopedEnvironment noLogDir{"KRT_LOG_DIR", std::nullopt};
};

TEST_F(CliLogin, PrintsOneLinePerChannelWithServerTextsMadePrintable) {
    FakeKrtServer server(twoChannelServer());

    const test::CliRun run = runCli(loginArguments(server.address()));

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "0\tid=7\tdescription=Gate\ttype=Fixed\tsize=320x240\trecorded=640x480"
              "\tdetails=yes\tptz=no\n"
              "1\tid=cam-2\tdescription=Dock⟨U+0009⟩north⟨U+001B⟩[2J"
              "\ttype=Fixed\tsize=640x480\trecorded=0x0"
              "\tdetails=yes\tptz=yes\n"
              "2\tid=\tdescription=\ttype=\tsize=0x0\trecorded=0x0\tdetails=no\tptz=no\n");
    EXPECT_THAT(run.err, IsEmpty());
}

TEST_F(CliLogin, JsonDocumentCarriesTheWholeTable) {
    ServerReplies replies = twoChannelServer();
    replies.details["7"] = detailsReply("7", "Gate \xFF");  // not UTF-8
    FakeKrtServer server(replies);

    const test::CliRun run = runCli(loginArguments(server.address(), {"--json"}));

    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["result"], "ok");
    ASSERT_EQ(document["channels"].size(), 3u);
    EXPECT_EQ(document["channels"][1],
              nlohmann::json::parse(R"({"index":1,"id":"cam-2","description":"Dock\tnorth\u001b[2J",
                 "type":"Fixed","width":640,"height":480,"recWidth":0,"recHeight":0,
                 "detailsLoaded":true,"ptz":true})"));
    EXPECT_EQ(document["channels"][0]["description"], "Gate \xEF\xBF\xBD");  // replaced
    EXPECT_EQ(document["channels"][2]["detailsLoaded"], false);
    EXPECT_EQ(run.out.rfind("{\"result\":\"ok\",\"channels\":[{\"index\":0,\"id\":\"7\"", 0), 0u);
}

TEST_F(CliLogin, PasswordComesFromTheEnvironmentWhenNotGiven) {
    FakeKrtServer server(twoChannelServer());
    ScopedEnvironment password("KRT_PASSWORD", "from-env");

    const test::CliRun run = runCli({"--server", server.address(), "--user", "guard", "login"});

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(server.requests().at(0).payload, buildValidateUserPayload("guard", "from-env"));
}

TEST_F(CliLogin, SharedOptionsMayFollowTheCommand) {
    FakeKrtServer server(twoChannelServer(), 6001);
    ScopedEnvironment password("KRT_PASSWORD", "pw");

    const test::CliRun run = runCli({"login", "--server", server.address(), "--user", "guard",
                                     "--login-port", "6001", "--json"});

    // The login went to port 6001; the version check to 5500, where nothing listens, so the
    // server counts as unreachable.
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(nlohmann::json::parse(run.out)["reason"], "server-unreachable");
    EXPECT_EQ(server.requestIds(), std::vector<std::string>{"validateuser"});
}

TEST_F(CliLogin, OverlongUserNameIsRefusedBeforeSending) {
    FakeKrtServer server(twoChannelServer());

    const test::CliRun run = runCli(
        {"--server", server.address(), "--user", std::string(32, 'u'), "--password", "p", "login"});

    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("at most 31 characters"));
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(CliLogin, LogFolderIsMadePrivateAndReceivesTheFailures) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("krt-cli-log-" + std::to_string(::getpid())) / "logs";
    fs::remove_all(folder.parent_path());

    const test::CliRun run =
        runCli(loginArguments(test::deadLoopbackAddress(), {"--log-dir", folder.string()}));

    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    std::string logged;
    for (const auto& file : fs::directory_iterator(folder)) {
        EXPECT_EQ(file.status().permissions(), fs::perms::owner_read | fs::perms::owner_write);
        std::ifstream in(file.path());
        logged.assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove_all(folder.parent_path());
    EXPECT_THAT(logged, HasSubstr("Tessaline.exe-kmMgrSocketClient::connectToServer()-Unable to "
                                  "listen socket to address.-"));
}

TEST(CliArguments, ThePasswordIsConcealedWhereTheProcessListShowsIt) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases{
        {{"--user", "a", "--password", "s3cret", "login"},
         {"--user", "a", "--password", "******", "login"}},
        {{"--password=s3cret", "--json"}, {"--password=******", "--json"}},
        {{"--user", "--password", "--password"}, {"--user", "--password", "**********"}},
        {{"--passwords", "x", "--password"}, {"--passwords", "x", "--password"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> held = c.arguments;
        std::vector<char*> argv;
        for (std::string& argument : held) {
            argv.push_back(argument.data());
        }
        cli::concealPasswordArguments(argv);
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.end()), c.shown);
    }
}

TEST_F(CliLogin, RunWithoutLogFolderLeavesTheLogAsItWas) {
    const test::LogCapture log;

    runCli(loginArguments(test::deadLoopbackAddress()));

    EXPECT_TRUE(diagLogEnabled());
    EXPECT_TRUE(log.contains("Unable to listen socket to address."));
}

struct UsageCase {
    std::string name;
    std::vector<std::string> arguments;
    std::string complaint;
};
void PrintTo(const UsageCase& c, std::ostream* out) {
    *out << c.name;
}

class CliUsage : public CliLogin, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, ExitsWithOneAndSaysWhatIsWrong) {
    const test::CliRun run = runCli(GetParam().arguments);

    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(GetParam().complaint));
    EXPECT_THAT(run.err, HasSubstr("krt-cli --help"));
    EXPECT_THAT(run.out, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUsage,
    ::testing::Values(
        UsageCase{
            "NoCommand", {"--server", "127.0.0.1", "--user", "u", "--password", "p"}, "subcommand"},
        UsageCase{"UnknownCommand", {"--server", "127.0.0.1", "fly"}, "fly"},
        UsageCase{"NoServer", {"--user", "u", "--password", "p", "login"}, "--server is required"},
        UsageCase{"HostName",
                  {"--server", "server.example", "--user", "u", "--password", "p", "login"},
                  "not a dotted IPv4 address"},
        UsageCase{
            "NoUser", {"--server", "127.0.0.1", "--password", "p", "login"}, "--user is required"},
        UsageCase{"NoPassword", {"--server", "127.0.0.1", "--user", "u", "login"}, "KRT_PASSWORD"},
        UsageCase{"PortZero",
                  {"--server", "127.0.0.1", "--user", "u", "--password", "p", "--login-port", "0",
                   "login"},
                  "--login-port"},
        UsageCase{"PortNotANumber",
                  {"--server", "127.0.0.1", "--user", "u", "--password", "p", "--login-port",
                   "http", "login"},
                  "--login-port"},
        UsageCase{"SeveralServersToLogIn",
                  {"--server", "127.0.0.2", "--server", "127.0.0.3", "--user", "u", "--password",
                   "p", "login"},
                  "only alarms and live take several"},
        UsageCase{
            "TwoValuesToOneServerOption",
            {"--server", "127.0.0.2", "127.0.0.3", "--user", "u", "--password", "p", "alarms"},
            "127.0.0.3"},
        UsageCase{"ANameGivenTwice",
                  {"--server", "A=127.0.0.2", "--server", "A=127.0.0.3", "--user", "u",
                   "--password", "p", "alarms"},
                  "the server A is given twice"},
        UsageCase{"OneServerUnderTwoNames",
                  {"--server", "127.0.0.2", "--server", "B=127.0.0.2", "--user", "u", "--password",
                   "p", "alarms"},
                  "are one server"},
        UsageCase{"ACameraOfNoServer",
                  {"--server", "127.0.0.2", "--server", "127.0.0.3", "--user", "u", "--password",
                   "p", "live", "7"},
                  "give SERVER:ID"}),
    test::CaseName{});

TEST_F(CliLogin, HelpDocumentsEveryCommandAndOption) {
    const test::CliRun run = runCli({"--help"});

    EXPECT_EQ(run.status, 0);
    for (const char* word : {"login", "--server", "--user", "--password", "KRT_PASSWORD",
                             "--login-port", "--log-dir", "--json", "Exit status"}) {
        EXPECT_THAT(run.out, HasSubstr(word));
    }
}

}  // namespace
}  // namespace krt
