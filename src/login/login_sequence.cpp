#include "login/login_sequence.h"

#include <algorithm>
#include <array>
#include <optional>

#include "login/channel_catalogue.h"
#include "protocol/diag_log.h"
#include "protocol/requests.h"
#include "protocol/return_codes.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kVersionMethod = "kmDlgView::getServerLocalTimestamp()";
constexpr const char* kInvalidReply = "Invalid Responce from server.";

constexpr std::string_view kRequiredPrivilege = "Doruvareva Client";
constexpr int kRefusalUserDisabled = -10011;
constexpr int kRefusalOperatorOnly = -10018;

// Characters, not bytes: a name typed with letters beyond ASCII counts each letter once.
std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::ranges::count_if(
        utf8, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

LoginOutcome failed(LoginStatus status, std::string message = {}) {
    return {status, std::move(message), false, {}};
}

// The server has judged the user and said no.
LoginOutcome refused(LoginStatus status, std::string message = {}) {
    return {status, std::move(message), true, {}};
}

LoginOutcome unreachable() {
    return failed(LoginStatus::ServerUnreachable, "Unable to connect to the server");
}

LoginOutcome cancelled() {
    return {LoginStatus::Cancelled, {}, false, {}};
}

LoginOutcome invalidReply() {
    writeLog(kModule, kInvalidReply, "");
    return failed(LoginStatus::InvalidReply, "Error while login.");
}

std::optional<LoginOutcome> checkInputLengths(const LoginCredentials& credentials) {
    if (characterCount(credentials.userName) > kMaxUserNameLength) {
        return LoginOutcome{LoginStatus::UserNameTooLong,
                            "The user name is too long.\nIt may have at most 31 characters.",
                            false,
                            {}};
    }
    if (characterCount(credentials.password) > kMaxPasswordLength) {
        return LoginOutcome{LoginStatus::PasswordTooLong,
                            "The password is too long.\nIt may have at most 255 characters.",
                            false,
                            {}};
    }
    return std::nullopt;
}

LoginOutcome judgeRefusalCode(int code) {
    switch (code) {
        case kRefusalUserDisabled:
            writeLog(kModule, "User is disabled", "");
            return refused(LoginStatus::UserDisabled,
                           "Error while login,user is disabled.\n"
                           "Please use different user for login.");
        case kRefusalOperatorOnly:
            writeLog(kModule, "Users with only operator privileges are allowed.", "");
            return refused(LoginStatus::OperatorOnly,
                           "Unable to login to the server, only users with Operator privilege "
                           "are allowed to login.");
        default:
            break;
    }
    if (code <= 0) {
        writeLog(kModule, "Invalid User Details", "");
        return refused(LoginStatus::InvalidUserDetails,
                       "Unable to login to the server. Please check the Username and Password.");
    }
    return refused(LoginStatus::RefusedWithoutReason);
}

// The verdict on the "validateuser" reply: nothing when the user is accepted.
std::optional<LoginOutcome> judgeValidateUserReply(std::string_view replyText) {
    const XmlNode root = loadXmlDocument(replyText);
    const XmlNode responseData = root.child("kmResponseData");
    if (!responseData) {
        // The return code tells the reason only when the user data is absent.
        const XmlNode returnCode = root.child("kmReturnCode");
        if (!returnCode) {
            return invalidReply();
        }
        return judgeRefusalCode(parseLeadingInt(returnCode.text()));
    }
    const XmlNode privilege = responseData.child("kmDescription");
    if (!privilege) {
        return invalidReply();
    }
    if (privilege.text() != kRequiredPrivilege) {
        return refused(LoginStatus::PrivilegeMissing,
                       "Unable to login to the server.\n"
                       "Only users with Doruvareva Client privilege are allowed to login.");
    }
    constexpr std::array kRequiredElements = {"kmNumberOfSupportedCameras", "kmSiteName",
                                              "GetLiveVideoFromServer"};
    for (const char* name : kRequiredElements) {
        if (!responseData.child(name)) {
            return invalidReply();
        }
    }
    return std::nullopt;
}

}  // namespace

std::string buildValidateUserPayload(std::string_view userName, std::string_view password) {
    XmlNode root = newRequestDocument("validateuser");
    if (!root) {
        return {};
    }
    XmlNode requestData = root.appendElement("kmRequestData");
    requestData.appendElement("UserName", userName);
    requestData.appendElement("Password", password);
    const std::optional<std::string> text = XmlMessage::serialize(root.ownerDocument());
    if (!text || text->empty()) {
        return {};
    }
    // The server reads twice the text's length: the text, then as many zero bytes.
    std::string payload = *text;
    payload.append(text->size(), '\0');
    return payload;
}

int checkRunningVersionStatusWithServer(const AppState& app, const ExchangeLimits& limits) {
    try {
        Reply reply;
        {
            SocketClient client(limits.timeouts, limits.cancellation);
            const std::string request = versionRequest();
            if (client.connectToServer(app.m_serverAddress, static_cast<unsigned>(app.m_serverPort),
                                       request, reply) <= 0) {
                return kErrException;
            }
        }
        const XmlNode root = XmlMessage::getXMLRootNodePtr(reply.text());
        if (!root) {
            writeLog(kModule, kVersionMethod, "Invalid response 1");
            return kErrCommunication;
        }
        const XmlNode returnCode = root.child("kmReturnCode");
        if (!returnCode) {
            writeLog(kModule, kVersionMethod, "Invalid response 2");
            return kErrCommunication;
        }
        if (parseLeadingInt(returnCode.text()) <= 0) {
            return kErrCommunication;
        }
        const XmlNode version = root.child("kmDescription");
        if (!version) {
            writeLog(kModule, kVersionMethod, "Invalid response 2");
            return kErrCommunication;
        }
        return version.text() == kClientProtocolVersion ? kSuccess : kErrVersionMismatch;
    } catch (...) {
        writeLog(kModule, "KRTApp::checkRunningVersionStatusWithServer()", "");
        return kErrException;
    }
}

LoginOutcome runLoginConversation(const LoginCredentials& credentials, AppState& app,
                                  const ExchangeLimits& limits) {
    if (std::optional<LoginOutcome> inputRefusal = checkInputLengths(credentials)) {
        return *inputRefusal;
    }
    app.m_serverAddress = credentials.serverAddress.substr(0, kMaxServerAddressLength);
    app.m_loginPort = credentials.loginPort;
    app.m_userName = credentials.userName;

    const std::string payload =
        buildValidateUserPayload(credentials.userName, credentials.password);
    if (payload.empty()) {
        return failed(LoginStatus::RequestNotBuilt);
    }
    Reply reply;
    {
        SocketClient client(limits.timeouts, limits.cancellation);
        const unsigned loginPort = static_cast<unsigned>(credentials.loginPort) & 0xFFFFu;
        if (client.connectToServer(app.m_serverAddress, loginPort, payload, reply) <= 0) {
            return limits.cancelled() ? cancelled() : unreachable();
        }
    }
    if (std::optional<LoginOutcome> refusal = judgeValidateUserReply(reply.text())) {
        return *refusal;
    }
    const int version = checkRunningVersionStatusWithServer(app, limits);
    if (limits.cancelled()) {
        return cancelled();
    }
    if (version == kErrException) {
        // No reply: the network is at fault, not the version.
        return unreachable();
    }
    if (version != kSuccess) {
        return failed(LoginStatus::VersionMismatch,
                      "This is a old version of KRT Client.\n"
                      "Please contact Administrator for latest version.");
    }
    std::size_t ignoredIds = 0;
    // A catalogue that fails to load leaves the table as it was: the login goes on.
    static_cast<void>(getListOfVideos(app, limits, &ignoredIds));
    if (limits.cancelled()) {
        return cancelled();
    }
    LoginOutcome accepted{LoginStatus::Accepted, {}, false, {}};
    if (ignoredIds > 0) {
        accepted.notice = "The server lists more channels than can be shown: only the first " +
                          std::to_string(kMaxCatalogueChannels) + " are loaded, " +
                          std::to_string(ignoredIds) + " are left out.";
    }
    return accepted;
}

}  // namespace krt
