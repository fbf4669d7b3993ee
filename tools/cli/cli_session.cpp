#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include "cli_command.h"
#include "common/server_text.h"
#include "login/login_sequence.h"

namespace krt::cli {
namespace {

std::string_view reasonName(LoginStatus status) {
    switch (status) {
        case LoginStatus::Accepted:
            return "accepted";
        case LoginStatus::UserNameTooLong:
            return "user-name-too-long";
        case LoginStatus::PasswordTooLong:
            return "password-too-long";
        case LoginStatus::RequestNotBuilt:
            return "request-not-built";
        case LoginStatus::ServerUnreachable:
            return "server-unreachable";
        case LoginStatus::InvalidReply:
            return "invalid-reply";
        case LoginStatus::UserDisabled:
            return "user-disabled";
        case LoginStatus::OperatorOnly:
            return "operator-only";
        case LoginStatus::InvalidUserDetails:
            return "invalid-user-details";
        case LoginStatus::RefusedWithoutReason:
            return "refused-without-reason";
        case LoginStatus::PrivilegeMissing:
            return "privilege-missing";
        case LoginStatus::VersionMismatch:
            return "version-mismatch";
        case LoginStatus::Cancelled:
            return "interrupted";
    }
    return "unknown";
}

// Where the dialog closes without a message box, the command line still says what happened.
std::string refusalText(const LoginOutcome& outcome) {
    if (!outcome.message.empty()) {
        return outcome.message;
    }
    if (outcome.status == LoginStatus::RequestNotBuilt) {
        return "The login request could not be built.";
    }
    if (outcome.status == LoginStatus::Cancelled) {
        return "Interrupted.";
    }
    return "The server refused the login without giving a reason.";
}

}  // namespace

CliSession::CliSession(SharedOptions options, std::ostream& out, std::ostream& err)
    : m_options(std::move(options)), m_out(out), m_err(err) {
    // The command line's check has let through only what parses.
    for (const std::string& text : m_options.servers) {
        if (std::optional<ServerOption> server = parseServerOption(text, m_options.loginPort)) {
            m_servers.push_back(std::move(*server));
        }
    }
}

LoginAttempt CliSession::attemptLogIn(const ServerOption& server,
                                      const Cancellation& cancellation) const {
    AppState app;
    const LoginCredentials credentials{server.address, server.loginPort, m_options.user,
                                       m_options.password.value_or("")};
    const LoginOutcome outcome =
        runLoginConversation(credentials, app, ExchangeLimits{{}, &cancellation});
    if (!outcome.accepted()) {
        return {std::nullopt, refusalText(outcome), reasonName(outcome.status), {}};
    }
    return {std::move(app), {}, {}, outcome.notice};
}

std::optional<AppState> CliSession::logIn() {
    return logIn(m_servers.front());
}

std::optional<AppState> CliSession::logIn(const ServerOption& server) {
    LoginAttempt attempt = attemptLogIn(server, m_interruption);
    if (!attempt.app) {
        refuse(attempt.refusal, attempt.reason);
        return std::nullopt;
    }
    if (!attempt.notice.empty()) {
        note(attempt.notice);
    }
    return std::move(attempt.app);
}

void CliSession::note(std::string_view line) {
    std::lock_guard lock(m_outputMutex);
    m_err << line << '\n' << std::flush;
}

WakePipe::WakePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    m_read = fds[0];
    m_write = fds[1];
}

WakePipe::~WakePipe() {
    ::close(m_read);
    ::close(m_write);
}

void WakePipe::wake() const {
    const char byte = 1;
    // A full pipe already wakes the reader; nothing is lost.
    [[maybe_unused]] const ssize_t ignored = ::write(m_write, &byte, 1);
}

void WakePipe::waitUntil(std::chrono::steady_clock::time_point deadline,
                         const Cancellation& interruption) const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    std::array<pollfd, 2> readers{pollfd{m_read, POLLIN, 0},
                                  pollfd{interruption.wakeFd(), POLLIN, 0}};
    ::poll(readers.data(), readers.size(),
           static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000)));
    char drain[64];
    while (::read(m_read, drain, sizeof drain) > 0) {
    }
}

int CliSession::refuse(std::string_view message, std::string_view reason) {
    if (json()) {
        printJson({{"result", "refused"}, {"message", message}, {"reason", reason}});
    } else {
        std::lock_guard lock(m_outputMutex);
        m_err << message << '\n';
    }
    return kExitRefused;
}

int CliSession::usageError(std::string_view message) {
    std::lock_guard lock(m_outputMutex);
    m_err << "krt-cli: " << message << "\nRun 'krt-cli --help' for usage.\n";
    return kExitUsage;
}

void CliSession::printJson(const nlohmann::ordered_json& document) {
    const std::string line =
        document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::lock_guard lock(m_outputMutex);
    m_out << line << '\n' << std::flush;
}

std::string printableText(std::string_view text) {
    return shownServerText(text);
}

CLI::App& CommandRegistry::add(const std::string& name, const std::string& description,
                               CommandRunner run, ServerUse server) {
    CLI::App* command = m_app.add_subcommand(name, description);
    m_commands.push_back({command, std::move(run), server});
    return *command;
}

ServerUse CommandRegistry::chosenServerUse() const {
    const auto chosen = std::ranges::find_if(
        m_commands, [](const Command& command) { return command.app->parsed(); });
    return chosen == m_commands.end() ? ServerUse::logsIn : chosen->server;
}

int CommandRegistry::runChosen(CliSession& session) const {
    for (const Command& command : m_commands) {
        if (command.app->parsed()) {
            return command.run(session);
        }
    }
    return session.usageError("no command given");
}

}  // namespace krt::cli
