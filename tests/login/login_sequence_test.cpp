#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "login/fake_server.h"
#include "login/login_sequence.h"
#include "protocol/message_sink.h"
#include "protocol/requests.h"

namespace krt {
namespace {

using test::acceptedUserReply;
using test::channelListReply;
using test::detailsReply;
using test::FakeKrtServer;
using test::LogCapture;
using test::ptzReply;
using test::ServerReplies;
using test::versionReply;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kErrorWhileLogin = "Error while login.";
constexpr const char* kInvalidReplyEntry = "KRT-Invalid Responce from server.--";
constexpr const char* kOldVersion =
    "This is a old version of KRT Client.\nPlease contact Administrator for latest version.";

// A server whose every reply is right, with one channel.
ServerReplies goodServer() {
    ServerReplies replies;
    replies.validateUser = acceptedUserReply();
    replies.version = versionReply();
    replies.channelList = channelListReply({"7"});
    replies.details["7"] = detailsReply("7", "Gate");
    replies.ptz["7"] = ptzReply("1");
    return replies;
}

// Collects what the protocol layer shows the operator, instead of printing it.
class ShownMessages {
  public:
    ShownMessages() {
        setMessageSink([this](std::string_view text) {
            std::lock_guard lock(m_mutex);
            m_texts.emplace_back(text);
        });
    }
    ~ShownMessages() { setMessageSink({}); }
    ShownMessages(const ShownMessages&) = delete;
    ShownMessages& operator=(const ShownMessages&) = delete;

    std::vector<std::string> texts() const {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

class LoginTest : public ::testing::Test {
  protected:
    LoginOutcome logIn(const std::string& address, std::string userName = "guard",
                       std::string password = "pass", int loginPort = 5500) {
        return runLoginConversation({address, loginPort, std::move(userName), std::move(password)},
                                    app);
    }

    LogCapture log;
    ShownMessages shown;
    AppState app;
};

struct VerdictCase {
    std::string name;
    std::string reply;  // to "validateuser"
    LoginStatus status;
    std::string message;
    std::vector<std::string> logEntries;
};

void PrintTo(const VerdictCase& c, std::ostream* out) {
    *out << c.name;
}

class ValidateUserVerdict : public LoginTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(ValidateUserVerdict, ShowsItsMessageLogsItsEntryAndStopsBeforeTheVersionCheck) {
    const VerdictCase& c = GetParam();
    ServerReplies replies = goodServer();
    replies.validateUser = c.reply;
    FakeKrtServer server(replies);

    const LoginOutcome outcome = logIn(server.address());

    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.message, c.message);
    // A reply that judges nothing is no refusal of the user: the password stays for a retry.
    EXPECT_EQ(outcome.userRefused, c.status != LoginStatus::InvalidReply);
    EXPECT_EQ(test::logEntries(log), c.logEntries);
    EXPECT_THAT(server.requestIds(), ElementsAre("validateuser"));
    EXPECT_THAT(shown.texts(), IsEmpty());  // the login's own reply parsing shows nothing
    EXPECT_THAT(app.m_channels, IsEmpty());
}

std::string refusal(const std::string& code) {
    return "<kmResponse><kmReturnCode>" + code + "</kmReturnCode></kmResponse>";
}

INSTANTIATE_TEST_SUITE_P(
    Login, ValidateUserVerdict,
    ::testing::Values(
        VerdictCase{"Disabled",
                    refusal("-10011"),
                    LoginStatus::UserDisabled,
                    "Error while login,user is disabled.\nPlease use different user for login.",
                    {"KRT-User is disabled--"}},
        VerdictCase{"OperatorOnly",
                    refusal("-10018"),
                    LoginStatus::OperatorOnly,
                    "Unable to login to the server, only users with Operator privilege are "
                    "allowed to login.",
                    {"KRT-Users with only operator privileges are allowed.--"}},
        VerdictCase{"CodeZero",
                    refusal("0"),
                    LoginStatus::InvalidUserDetails,
                    "Unable to login to the server. Please check the Username and Password.",
                    {"KRT-Invalid User Details--"}},
        VerdictCase{"CodeMinusFive",
                    refusal("-5"),
                    LoginStatus::InvalidUserDetails,
                    "Unable to login to the server. Please check the Username and Password.",
                    {"KRT-Invalid User Details--"}},
        VerdictCase{"CodeNotANumber",
                    refusal("none"),
                    LoginStatus::InvalidUserDetails,
                    "Unable to login to the server. Please check the Username and Password.",
                    {"KRT-Invalid User Details--"}},
        VerdictCase{
            "PositiveCodeWithoutUserData", refusal("7"), LoginStatus::RefusedWithoutReason, "", {}},
        VerdictCase{"NeitherDataNorCode",
                    "<kmResponse><kmDescription>x</kmDescription></kmResponse>",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}},
        VerdictCase{"NotXml",
                    "User accepted",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}},
        VerdictCase{"OperatorPrivilege",
                    acceptedUserReply("Operator"),
                    LoginStatus::PrivilegeMissing,
                    "Unable to login to the server.\nOnly users with Doruvareva Client "
                    "privilege are allowed to login.",
                    {}},
        VerdictCase{"PrivilegeInOtherCase",
                    acceptedUserReply("doruvareva client"),
                    LoginStatus::PrivilegeMissing,
                    "Unable to login to the server.\nOnly users with Doruvareva Client "
                    "privilege are allowed to login.",
                    {}},
        VerdictCase{"NoPrivilege",
                    "<r><kmResponseData><kmNumberOfSupportedCameras>1</kmNumberOfSupportedCameras>"
                    "<kmSiteName>s</kmSiteName><GetLiveVideoFromServer>1</GetLiveVideoFromServer>"
                    "</kmResponseData></r>",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}},
        VerdictCase{"NoNumberOfCameras",
                    "<r><kmResponseData><kmDescription>Doruvareva Client</kmDescription>"
                    "<kmSiteName>s</kmSiteName><GetLiveVideoFromServer>1</GetLiveVideoFromServer>"
                    "</kmResponseData></r>",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}},
        VerdictCase{"NoSiteName",
                    "<r><kmResponseData><kmDescription>Doruvareva Client</kmDescription>"
                    "<kmNumberOfSupportedCameras>1</kmNumberOfSupportedCameras>"
                    "<GetLiveVideoFromServer>1</GetLiveVideoFromServer></kmResponseData></r>",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}},
        VerdictCase{"NoLiveVideoFlag",
                    "<r><kmResponseData><kmDescription>Doruvareva Client</kmDescription>"
                    "<kmNumberOfSupportedCameras>1</kmNumberOfSupportedCameras>"
                    "<kmSiteName>s</kmSiteName></kmResponseData></r>",
                    LoginStatus::InvalidReply,
                    kErrorWhileLogin,
                    {kInvalidReplyEntry}}),
    test::CaseName{});

TEST_F(LoginTest, UserDataWinsOverARefusingReturnCode) {
    ServerReplies replies = goodServer();
    replies.validateUser = "<kmResponse><kmReturnCode>0</kmReturnCode>" +
                           acceptedUserReply().substr(
                               std::string("<kmResponse><kmReturnCode>1</kmReturnCode>").size());
    FakeKrtServer server(replies);

    const LoginOutcome outcome = logIn(server.address());

    EXPECT_TRUE(outcome.accepted());
    EXPECT_FALSE(outcome.userRefused);
    EXPECT_THAT(outcome.message, IsEmpty());
}

TEST_F(LoginTest, AcceptedLoginRunsVersionCheckThenCatalogueAndFillsTheState) {
    FakeKrtServer server(goodServer());

    const LoginOutcome outcome = logIn(server.address(), std::string(31, 'u'));

    ASSERT_TRUE(outcome.accepted());
    EXPECT_FALSE(outcome.userRefused);
    EXPECT_THAT(server.requestIds(),
                ElementsAre("validateuser", "getMobileClientCommunicationVersion",
                            "getAuthorizedChannelsIDList", "getVideoChannelDetails:7",
                            "getCameraPTZStatus:7"));
    EXPECT_EQ(server.connectionCount(), 5);  // a connection of its own for every exchange
    EXPECT_EQ(app.m_serverAddress, server.address());
    EXPECT_EQ(app.m_loginPort, 5500);
    EXPECT_EQ(app.m_userName, std::string(31, 'u'));
    ASSERT_EQ(app.channelCount(), 1);
    EXPECT_EQ(app.m_channels[0].ChannelDescription, "Gate");
    EXPECT_TRUE(app.m_channels[0].PTZEnabled);
    EXPECT_THAT(test::logEntries(log), IsEmpty());

    const std::vector<test::ReceivedRequest> requests = server.requests();
    EXPECT_EQ(requests[0].payload, buildValidateUserPayload(std::string(31, 'u'), "pass"));
    EXPECT_EQ(requests[1].payload, versionRequest());  // sent without terminator
    EXPECT_EQ(requests[2].payload, channelListRequest(std::string(31, 'u')));
}

TEST_F(LoginTest, FailingCatalogueStillAdmitsTheUser) {
    ServerReplies replies = goodServer();
    replies.channelList = "<kmResponse/>";
    FakeKrtServer server(replies);

    const LoginOutcome outcome = logIn(server.address());

    EXPECT_TRUE(outcome.accepted());
    EXPECT_THAT(app.m_channels, IsEmpty());
    EXPECT_THAT(test::logEntries(log),
                ElementsAre("KRT-CkmKRTZededUzeriZeraveDlg::getListOfVideos-Invalid response 1-"));
}

TEST_F(LoginTest, ServerDownShowsTheConnectionMessageButKeepsWhatWasEntered) {
    const std::string address = test::deadLoopbackAddress();

    const LoginOutcome outcome = logIn(address, "guard", "pass", 6000);

    EXPECT_EQ(outcome.status, LoginStatus::ServerUnreachable);
    EXPECT_EQ(outcome.message, "Unable to connect to the server");
    EXPECT_FALSE(outcome.userRefused);
    EXPECT_EQ(app.m_serverAddress, address);
    EXPECT_EQ(app.m_loginPort, 6000);
    EXPECT_EQ(app.m_userName, "guard");
    EXPECT_THAT(test::logEntries(log),
                ElementsAre("Tessaline.exe-kmMgrSocketClient::connectToServer()-"
                            "Unable to listen socket to address.-"));
}

TEST_F(LoginTest, ServerClosingWithoutReplyShowsTheConnectionMessage) {
    ServerReplies replies = goodServer();
    replies.validateUser.reset();
    FakeKrtServer server(replies);

    const LoginOutcome outcome = logIn(server.address());

    EXPECT_EQ(outcome.status, LoginStatus::ServerUnreachable);
    EXPECT_EQ(outcome.message, "Unable to connect to the server");
}

TEST_F(LoginTest, LoginGoesToTheLoginPortAndEverythingElseToTheServerPort) {
    // Nothing listens on the server port of that address, so the version check gets no reply.
    FakeKrtServer server(goodServer(), 6000);

    const LoginOutcome outcome = logIn(server.address(), "guard", "pass", 6000);

    EXPECT_EQ(outcome.status, LoginStatus::ServerUnreachable);
    EXPECT_EQ(outcome.message, "Unable to connect to the server");
    EXPECT_THAT(server.requestIds(), ElementsAre("validateuser"));
}

TEST_F(LoginTest, LoginPortUsesItsLowSixteenBits) {
    FakeKrtServer server(goodServer(), 4464);

    logIn(server.address(), "guard", "pass", 70000);

    EXPECT_THAT(server.requestIds(), ElementsAre("validateuser"));
    EXPECT_EQ(app.m_loginPort, 70000);
}

struct LengthCase {
    std::string name;
    std::string userName;
    std::string password;
    LoginStatus status;  // Accepted where the entry fits
};

void PrintTo(const LengthCase& c, std::ostream* out) {
    *out << c.name;
}

class EntryLength : public LoginTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(EntryLength, OverlongEntriesAreRefusedBeforeAnythingIsSent) {
    const LengthCase& c = GetParam();
    FakeKrtServer server(goodServer());

    const LoginOutcome outcome = logIn(server.address(), c.userName, c.password);

    EXPECT_EQ(outcome.status, c.status);
    if (c.status == LoginStatus::Accepted) {
        ASSERT_FALSE(server.requests().empty());
        EXPECT_EQ(server.requests()[0].payload, buildValidateUserPayload(c.userName, c.password));
        EXPECT_EQ(app.m_userName, c.userName);
    } else {
        EXPECT_EQ(server.connectionCount(), 0);
        EXPECT_FALSE(outcome.userRefused);  // the operator corrects the entry
        EXPECT_THAT(outcome.message, ::testing::HasSubstr("too long"));
        EXPECT_THAT(app.m_userName, IsEmpty());
        EXPECT_THAT(app.m_serverAddress, IsEmpty());
    }
}

const std::string kE = "\xC3\xA9";  // é: one character, two bytes

std::string repeated(const std::string& text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i) {
        result += text;
    }
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Login, EntryLength,
    ::testing::Values(
        LengthCase{"UserName31", std::string(31, 'u'), "p", LoginStatus::Accepted},
        LengthCase{"UserName32", std::string(32, 'u'), "p", LoginStatus::UserNameTooLong},
        LengthCase{"UserName31Accented", repeated(kE, 31), "p", LoginStatus::Accepted},
        LengthCase{"UserName32Accented", repeated(kE, 32), "p", LoginStatus::UserNameTooLong},
        LengthCase{"Password255", "u", std::string(255, 'p'), LoginStatus::Accepted},
        LengthCase{"Password256", "u", std::string(256, 'p'), LoginStatus::PasswordTooLong}),
    test::CaseName{});

struct VersionCase {
    std::string name;
    std::optional<std::string> reply;
    int result;
    std::vector<std::string> logEntries;
    std::vector<std::string> shown;  // what the XML layer showed the operator
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.name;
}

class VersionCheck : public LoginTest, public ::testing::WithParamInterface<VersionCase> {};

// A server that answers with another version gets the old-version message; one that does not
// answer gets the connection message, which sends the user to the network instead.
TEST_P(VersionCheck, ReturnsItsResultAndTheLoginShowsTheMatchingMessage) {
    const VersionCase& c = GetParam();
    ServerReplies replies = goodServer();
    replies.version = c.reply;
    FakeKrtServer server(replies);
    app.m_serverAddress = server.address();

    EXPECT_EQ(checkRunningVersionStatusWithServer(app), c.result);
    EXPECT_EQ(test::logEntries(log), c.logEntries);

    const LoginOutcome outcome = logIn(server.address());
    if (c.result == 1) {
        EXPECT_TRUE(outcome.accepted());
    } else if (c.result == -10001) {
        EXPECT_EQ(outcome.status, LoginStatus::ServerUnreachable);
        EXPECT_EQ(outcome.message, "Unable to connect to the server");
        EXPECT_FALSE(outcome.userRefused);
    } else {
        EXPECT_EQ(outcome.status, LoginStatus::VersionMismatch);
        EXPECT_EQ(outcome.message, kOldVersion);
        EXPECT_FALSE(outcome.userRefused);
        EXPECT_THAT(app.m_channels, IsEmpty());  // no catalogue after a refusal
    }
    EXPECT_EQ(shown.texts().size(), 2 * c.shown.size());
}

constexpr const char* kInvalid1 = "KRT-kmDlgView::getServerLocalTimestamp()-Invalid response 1-";
constexpr const char* kInvalid2 = "KRT-kmDlgView::getServerLocalTimestamp()-Invalid response 2-";

INSTANTIATE_TEST_SUITE_P(
    Login, VersionCheck,
    ::testing::Values(
        VersionCase{"Ours", versionReply(), 1, {}, {}},
        VersionCase{"Other", versionReply("1", "MobileClient-02-00-02"), -10021, {}, {}},
        VersionCase{"OtherCase", versionReply("1", "mobileclient-02-00-01"), -10021, {}, {}},
        VersionCase{"ReturnCodeZero", versionReply("0"), -10002, {}, {}},
        VersionCase{"ReturnCodeNegative", versionReply("-3"), -10002, {}, {}},
        VersionCase{"NoReturnCode",
                    "<r><kmDescription>MobileClient-02-00-01</kmDescription></r>",
                    -10002,
                    {kInvalid2},
                    {}},
        VersionCase{
            "NoDescription", "<r><kmReturnCode>1</kmReturnCode></r>", -10002, {kInvalid2}, {}},
        VersionCase{"NotXml",
                    "MobileClient-02-00-01",
                    -10002,
                    {kInvalid1},
                    {"retVal != VARIANT_TRUE == NULL"}},
        VersionCase{"NoReply",
                    std::nullopt,
                    -10001,
                    {"Tessaline.exe-kmMgrSocketClient::thSocketReqHandler()-"
                     "Error in receiving packet header.-"},
                    {}}),
    test::CaseName{});

TEST_F(LoginTest, VersionCheckAgainstADeadServerFails) {
    app.m_serverAddress = test::deadLoopbackAddress();
    EXPECT_EQ(checkRunningVersionStatusWithServer(app), -10001);
}

}  // namespace
}  // namespace krt
