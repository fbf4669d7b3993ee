#include "cli_app.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <vector>

#include "cli_command.h"
#include "krt_version.h"
#include "protocol/diag_log.h"
#include "protocol/message_sink.h"
#include "server_option.h"

namespace krt::cli {
namespace {

void registerCommands(CommandRegistry& registry) {
    registerLoginCommand(registry);
    registerAlarmsCommand(registry);
    registerLiveCommand(registry);
    registerPtzCommand(registry);
    registerHistoryCommand(registry);
    registerReviewCommand(registry);
}

void addSharedOptions(CLI::App& app, SharedOptions& options) {
    const CLI::Validator serverOption(
        [](const std::string& text) {
            return parseServerOption(text, kServerPort)
                       ? std::string()
                       : "not a dotted IPv4 address: " + text + " ([NAME=]ADDRESS[:LOGIN_PORT])";
        },
        "[NAME=]IPV4[:PORT]");
    // One value per --server, so that the command's name is never taken for a server.
    app.add_option("--server", options.servers,
                   "Server address, dotted IPv4 (required); alarms and live take several, each "
                   "as [NAME=]ADDRESS[:LOGIN_PORT]")
        ->check(serverOption)
        ->allow_extra_args(false);
    app.add_option("--user", options.user, "User name (required)");
    app.add_option("--password", options.password,
                   "Password; better given in $KRT_PASSWORD, which keeps it out of the process "
                   "list")
        ->envname("KRT_PASSWORD");
    app.add_option("--login-port", options.loginPort,
                   "Port of the login request (and PTZ); the server port stays 5500")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--log-dir", options.logDir,
                   "Write the diagnostic log, one file a day, to this folder (or $KRT_LOG_DIR)")
        ->envname("KRT_LOG_DIR");
    app.add_flag("--json", options.json, "Print JSON documents instead of text");
}

std::optional<std::string> missingSharedOption(const SharedOptions& options, ServerUse serverUse) {
    if (options.servers.empty()) {
        return "--server is required";
    }
    if (options.servers.size() > 1 && serverUse != ServerUse::logsInToEach) {
        return "--server is given more than once; only alarms and live take several";
    }
    if (options.user.empty()) {
        return "--user is required";
    }
    if (!options.password) {
        return "a password is required: give --password or set KRT_PASSWORD";
    }
    return std::nullopt;
}

// Turns the diagnostic log on for one run when a folder is given (making it when missing),
// and off again after it.
class LogFolderScope {
  public:
    explicit LogFolderScope(const std::string& folder) {
        if (folder.empty()) {
            return;
        }
        m_failure = enableDiagLog(folder);
        m_enabled = !m_failure;
    }
    ~LogFolderScope() {
        if (m_enabled) {
            enableDiagLog("");
        }
    }
    LogFolderScope(const LogFolderScope&) = delete;
    LogFolderScope& operator=(const LogFolderScope&) = delete;

    // Why the folder cannot hold the log, if it cannot.
    const std::optional<std::string>& failure() const { return m_failure; }

  private:
    bool m_enabled = false;
    std::optional<std::string> m_failure;
};

// Sends what the protocol layer would show in a message box to standard error, for the
// duration of one run.
class MessagesToStream {
  public:
    explicit MessagesToStream(CliSession& session) {
        setMessageSink([&session](std::string_view text) {
            std::lock_guard lock(session.outputMutex());
            session.err() << text << '\n';
        });
    }
    ~MessagesToStream() { setMessageSink({}); }
    MessagesToStream(const MessagesToStream&) = delete;
    MessagesToStream& operator=(const MessagesToStream&) = delete;
};

std::atomic<const Cancellation*> g_interruption{nullptr};

extern "C" void onInterrupt(int) {
    if (const Cancellation* interruption = g_interruption.load()) {
        interruption->cancel();
    }
}

// SIGINT and SIGTERM end the run cleanly (connections closed, snapshots removed as they
// should be) while it lasts; the previous handlers come back afterwards.
class InterruptScope {
  public:
    explicit InterruptScope(const Cancellation& interruption) {
        g_interruption.store(&interruption);
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previousInt);
        ::sigaction(SIGTERM, &action, &m_previousTerm);
    }
    ~InterruptScope() {
        ::sigaction(SIGINT, &m_previousInt, nullptr);
        ::sigaction(SIGTERM, &m_previousTerm, nullptr);
        g_interruption.store(nullptr);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

  private:
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};

// Parses the command line into `app`; an exit status when the run ends here (help or error).
std::optional<int> parseCommandLine(CLI::App& app, std::span<const std::string> arguments,
                                    std::ostream& out, std::ostream& err) {
    std::vector<const char*> argv{"krt-cli"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
        return std::nullopt;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        // An unknown command is left over as an extra argument; say so rather than only that
        // a command is missing.
        const std::vector<std::string> unexpected = app.remaining();
        err << "krt-cli: "
            << (unexpected.empty() ? std::string(error.what())
                                   : "unknown command or argument: " + unexpected.front())
            << "\nRun 'krt-cli --help' for usage.\n";
        return kExitUsage;
    }
}

}  // namespace

void concealPasswordArguments(std::span<char*> arguments) {
    constexpr std::string_view kOption = "--password";
    constexpr std::string_view kOptionWithValue = "--password=";
    const auto conceal = [](char* value) { std::fill(value, value + std::strlen(value), '*'); };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == kOption && i + 1 < arguments.size()) {
            conceal(arguments[++i]);
        } else if (argument.starts_with(kOptionWithValue)) {
            conceal(arguments[i] + kOptionWithValue.size());
        }
    }
}

int runKrtCli(std::span<const std::string> arguments, std::ostream& out, std::ostream& err) {
    CLI::App app(
        "krt-cli: log in to a Tessaline server as the KRT client does, then run one "
        "command; or read and review the alarm journal on this machine. Exit status: 0 done, 1 "
        "wrong command line, 2 login or request "
        "refused, 3 not everything awaited came.",
        "krt-cli");
    // --help shows every command together with its own options.
    app.set_help_flag();
    app.set_help_all_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", "krt-cli " + std::string(kProductVersion),
                         "Print the program's name and version and exit");
    app.footer(
        "Examples:\n"
        "  KRT_PASSWORD=secret krt-cli --server 127.0.0.1 --user demo login\n"
        "  krt-cli --server 127.0.0.1 --user demo --password secret --json login\n"
        "  krt-cli history --since -1h --unreviewed");
    app.fallthrough();
    app.require_subcommand(1);

    SharedOptions options;
    addSharedOptions(app, options);
    CommandRegistry registry(app);
    registerCommands(registry);
    if (const std::optional<int> status = parseCommandLine(app, arguments, out, err)) {
        return *status;
    }

    CliSession session(options, out, err);
    if (const std::optional<std::string> missing =
            missingSharedOption(options, registry.chosenServerUse());
        missing && registry.chosenServerUse() != ServerUse::none) {
        return session.usageError(*missing);
    }
    const LogFolderScope log(options.logDir);
    if (log.failure()) {
        return session.usageError("cannot use the log folder " + *log.failure());
    }
    const MessagesToStream messages(session);
    const InterruptScope interrupts(session.interruption());
    return registry.runChosen(session);
}

}  // namespace krt::cli
