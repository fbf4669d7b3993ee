#pragma once

#include <string>
#include <string_view>

#include "common/app_state.h"
#include "protocol/socket_client.h"

namespace krt {

// The login conversation with the server, without any window: "validateuser" on the login
// port, the protocol version check and the channel catalogue. The login dialog runs it on a
// worker thread while its connecting notice is shown; krt-cli runs it on its main thread.
//
// Threading: it blocks for the whole conversation (each exchange is bounded by the client's
// connect and reply time-outs) and writes the application state given to it, so nothing else
// may read that state until it returns. Replies that do not parse can make the XML layer call
// showMessage() from the calling thread (the message sink must accept that).

// What the operator entered in the login dialog.
struct LoginCredentials {
    std::string serverAddress;    // dotted IPv4; at most 255 characters are used
    int loginPort = kServerPort;  // its low 16 bits are the port of "validateuser"
    std::string userName;         // at most kMaxUserNameLength characters
    std::string password;         // at most kMaxPasswordLength characters
};

inline constexpr std::size_t kMaxUserNameLength = 31;
inline constexpr std::size_t kMaxPasswordLength = 255;
inline constexpr std::size_t kMaxServerAddressLength = 255;

enum class LoginStatus {
    Accepted,         // user accepted, version confirmed, catalogue requested: open the main sheet
    UserNameTooLong,  // refused before anything was sent; the operator may correct it
    PasswordTooLong,  // refused before anything was sent; the operator may correct it
    RequestNotBuilt,  // the request document could not be built (no message)
    ServerUnreachable,     // no reply to "validateuser" or to the version check
    InvalidReply,          // reply without the elements a verdict needs
    UserDisabled,          // refusal code -10011
    OperatorOnly,          // refusal code -10018
    InvalidUserDetails,    // any other refusal code of 0 or less
    RefusedWithoutReason,  // a return code above 0 but no user data (no message)
    PrivilegeMissing,      // the user lacks the "Doruvareva Client" privilege
    VersionMismatch,       // the server answered the version check with another version
    Cancelled,             // the conversation was cancelled (no message; the dialog stays)
};

struct LoginOutcome {
    LoginStatus status = LoginStatus::RequestNotBuilt;
    // The text of the message box the dialog shows (caption "Error", error icon), with its
    // line breaks; empty when no message box is shown.
    std::string message;
    // A login that fails leaves the dialog for another try; after success the dialog runs the
    // main sheet and closes when the sheet has closed. True when the server refused the user:
    // the dialog then clears the password for the next try.
    bool userRefused = false;
    // Accepted only: what the user should know about the catalogue (channels left out), or
    // empty.
    std::string notice;

    bool accepted() const { return status == LoginStatus::Accepted; }
};

// Runs the conversation: checks the lengths, copies the address, login port and user name into
// `app`, sends "validateuser" (2 × L bytes), judges the reply, runs
// checkRunningVersionStatusWithServer() and then getListOfVideos(), whose failure does not
// stop the login. Writes the log entries of each step. Cancelling the limits' cancellation
// ends it at once, in any step, with LoginStatus::Cancelled and the channel table unchanged.
LoginOutcome runLoginConversation(const LoginCredentials& credentials, AppState& app,
                                  const ExchangeLimits& limits = {});

// Results of checkRunningVersionStatusWithServer().
inline constexpr int kErrVersionMismatch = -10021;
inline constexpr std::string_view kClientProtocolVersion = "MobileClient-02-00-01";

// Asks the server at app.m_serverAddress:app.m_serverPort for its protocol version: 1 when it
// is ours, -10021 for another version, -10002 for a reply that does not parse, lacks an
// element or has a return code of 0 or less, -10001 when no reply came.
int checkRunningVersionStatusWithServer(const AppState& app, const ExchangeLimits& limits = {});

// The "validateuser" payload for the serialised request text of L bytes: the text followed by
// L zero bytes. Empty when the request could not be built.
std::string buildValidateUserPayload(std::string_view userName, std::string_view password);

}  // namespace krt
