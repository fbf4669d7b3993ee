#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "common/app_state.h"
#include "protocol/cancellation.h"
#include "server_option.h"

// The commands of krt-cli.
//
// Each command lives in a file of its own, tools/cli/<name>_command.cpp, and is added with two
// lines: its registration function declared at the end of this header, and a call to it in
// registerCommands() (cli_app.cpp). The registration function adds a CLI11 subcommand with the
// command's own options and hands over the function that runs it, for example:
//
//   void registerAlarmsCommand(CommandRegistry& registry) {
//       auto options = std::make_shared<AlarmsOptions>();  // lives as long as the command
//       CLI::App& command = registry.add("alarms", "Print the alarms the server pushes",
//                                        [options](CliSession& session) {
//                                            return runAlarms(session, *options);
//                                        });
//       command.add_option("--count", options->count, "Stop after N events");
//   }
//
// The run function gets a CliSession with the shared options (--server, --user,
// --password or $KRT_PASSWORD, --login-port, --log-dir or $KRT_LOG_DIR, --json), the output
// streams, and logIn(): the login as the client does it (validateuser, version check,
// catalogue), which prints the refusal itself. Every command that talks to the server logs in
// first (those that only read this machine's alarm journal are added with ServerUse::none):
//
//   std::optional<AppState> app = session.logIn();
//   if (!app) return kExitRefused;
//
// Run functions return the exit status: kExitOk, kExitUsage for a wrong command line (with
// session.usageError()), kExitRefused for a refusal (session.refuse() for a command's own) and
// kExitIncomplete when the awaited data did not all come. Output from worker threads takes
// session.outputMutex() first.

namespace krt::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitRefused = 2;
inline constexpr int kExitIncomplete = 3;

// The options every command shares.
struct SharedOptions {
    std::vector<std::string> servers;  // each "[NAME=]ADDRESS[:LOGIN_PORT]"
    std::string user;
    std::optional<std::string> password;
    int loginPort = kServerPort;
    std::string logDir;
    bool json = false;
};

// One login, as the client makes it: the session state, or why there is none.
struct LoginAttempt {
    std::optional<AppState> app;
    std::string refusal;  // the message the login dialog would show
    std::string_view reason;
    std::string notice;  // said even when the login is accepted
};

class CliSession {
  public:
    CliSession(SharedOptions options, std::ostream& out, std::ostream& err);

    const SharedOptions& options() const { return m_options; }
    // The servers of the --server options, in their order.
    std::span<const ServerOption> servers() const { return m_servers; }
    bool json() const { return m_options.json; }
    std::ostream& out() { return m_out; }
    std::ostream& err() { return m_err; }
    std::mutex& outputMutex() { return m_outputMutex; }
    // Cancelled by SIGINT or SIGTERM: every exchange made under it ends at once, and a command
    // that waits polls its descriptor too.
    const Cancellation& interruption() const { return m_interruption; }
    // Prints one line on standard error.
    void note(std::string_view line);

    // Logs in to `server` (the first unless given) as the client does. On a refusal prints
    // the message the login dialog would show (with --json the refusal document on standard
    // output) and returns nothing.
    std::optional<AppState> logIn();
    std::optional<AppState> logIn(const ServerOption& server);
    // Logs in to `server` printing nothing; `cancellation` ends the exchanges.
    LoginAttempt attemptLogIn(const ServerOption& server, const Cancellation& cancellation) const;

    // Prints a command's own refusal like a refused login's and returns kExitRefused.
    int refuse(std::string_view message, std::string_view reason);
    // Prints a command-line error with a pointer to --help and returns kExitUsage.
    int usageError(std::string_view message);
    // One JSON document on one line of standard output. Bytes of server texts that are not
    // UTF-8 are replaced rather than failing the output.
    void printJson(const nlohmann::ordered_json& document);

  private:
    SharedOptions m_options;
    std::vector<ServerOption> m_servers;
    std::ostream& m_out;
    std::ostream& m_err;
    std::mutex m_outputMutex;
    Cancellation m_interruption;
};

// A pipe whose reader sleeps until something is written to it, the session is interrupted or
// a deadline passes. Writing is async-signal-safe, so that any thread may wake the reader.
class WakePipe {
  public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    void wake() const;
    // Sleeps until woken, interrupted or the deadline, then empties the pipe.
    void waitUntil(std::chrono::steady_clock::time_point deadline,
                   const Cancellation& interruption) const;

  private:
    int m_read = -1;
    int m_write = -1;
};

// Server texts on a terminal, as every view shows them (shownServerText): control characters,
// which could move the cursor, rewrite the screen or break the columns, and invisible or
// reordering ones are written out as their code.
std::string printableText(std::string_view text);

using CommandRunner = std::function<int(CliSession&)>;

// Whether a command talks to one server, or to every server given (and needs --server, --user
// and a password), or only reads what is kept on this machine (the alarm journal).
enum class ServerUse { logsIn, logsInToEach, none };

class CommandRegistry {
  public:
    explicit CommandRegistry(CLI::App& app) : m_app(app) {}

    // Adds the subcommand; its options are added to the returned CLI11 app.
    CLI::App& add(const std::string& name, const std::string& description, CommandRunner run,
                  ServerUse server = ServerUse::logsIn);
    // How the subcommand the command line chose uses the servers.
    ServerUse chosenServerUse() const;
    // Runs the subcommand the command line chose.
    int runChosen(CliSession& session) const;

  private:
    struct Command {
        CLI::App* app;
        CommandRunner run;
        ServerUse server;
    };
    CLI::App& m_app;
    std::vector<Command> m_commands;
};

// Registration functions, one per command file.
void registerLoginCommand(CommandRegistry& registry);
void registerAlarmsCommand(CommandRegistry& registry);
void registerLiveCommand(CommandRegistry& registry);
void registerPtzCommand(CommandRegistry& registry);
void registerHistoryCommand(CommandRegistry& registry);
void registerReviewCommand(CommandRegistry& registry);

}  // namespace krt::cli
