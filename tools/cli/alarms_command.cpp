#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <variant>

#include "alarms/alarm_channel.h"
#include "alarms/alarm_status_text.h"
#include "cli_command.h"
#include "common/private_file.h"
#include "journal/alarm_journal.h"
#include "protocol/worker_thread.h"

namespace krt::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A year: longer time-outs are surely mistakes, and could not be added to the clock.
constexpr double kLongestTimeout_s = 365.0 * 24 * 3600;

struct AlarmsOptions {
    int count = 0;         // 0: no limit
    double timeout_s = 0;  // 0: none
    std::string snapshotDir;
    bool keep = false;
    double retryPeriod_s = kAlarmRetryPeriod_ms / 1000.0;
    bool journal = false;
    std::string journalDir;
};

std::uintmax_t fileBytes(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = path.empty() ? 0 : fs::file_size(path, error);
    return error ? 0 : size;
}

std::string_view stateName(AlarmChannelStatus::State state) {
    switch (state) {
        case AlarmChannelStatus::State::subscribed:
            return "subscribed";
        case AlarmChannelStatus::State::retrying:
            return "retrying";
        case AlarmChannelStatus::State::stopped:
            return "stopped";
    }
    return "unknown";
}

std::string_view reasonName(AlarmChannelStatus::Reason reason) {
    switch (reason) {
        case AlarmChannelStatus::Reason::none:
            return "";
        case AlarmChannelStatus::Reason::refused:
            return "refused";
        case AlarmChannelStatus::Reason::unreadable:
            return "unreadable";
        case AlarmChannelStatus::Reason::noAnswer:
            return "no-answer";
        case AlarmChannelStatus::Reason::connectionLost:
            return "connection-lost";
        case AlarmChannelStatus::Reason::cannotConnect:
            return "cannot-connect";
    }
    return "unknown";
}

long long secondsUntil(AlarmChannelStatus::Clock::time_point time) {
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(time - AlarmChannelStatus::Clock::now());
    return std::max<long long>(left.count(), 0);
}

// The events of the run, of every server: it has all it awaited once `count` are stored.
class EventTally {
  public:
    EventTally(int count, const WakePipe& wake) : m_count(count), m_wake(wake) {}

    // Counts one more event; false when the run has all it awaited already.
    bool take() {
        std::lock_guard lock(m_mutex);
        if (m_count > 0 && m_stored >= m_count) {
            return false;
        }
        ++m_stored;
        return true;
    }
    bool complete() {
        std::lock_guard lock(m_mutex);
        return m_count > 0 && m_stored >= m_count;
    }
    // Wakes the thread that waits for the end of the run.
    void wake() const { m_wake.wake(); }

  private:
    const int m_count;
    const WakePipe& m_wake;
    std::mutex m_mutex;
    int m_stored = 0;
};

// Prints each stored event and each change of one server's channel's state, and plays the
// retry timer for the channel: `retryWake` wakes the thread that ticks it. With several
// servers every line names its server (`label`); with one it is empty and no line does.
class AlarmsPrinter : public AlarmChannelOwner {
  public:
    AlarmsPrinter(CliSession& session, EventTally& tally, std::string label,
                  const WakePipe& retryWake)
        : m_session(session), m_tally(tally), m_label(std::move(label)), m_wake(retryWake) {}

    void queueEventAlert(std::string_view, std::string_view, std::string_view) override {}

    void eventStored(const AlarmEvent& event, std::span<const char>) override {
        if (!m_tally.take()) {
            return;  // the run is over; only the awaited events are printed
        }
        print(event);
        m_tally.wake();
    }

    // One line on standard error, after the server's name when there are several.
    void note(const std::string& line) {
        m_session.note(m_label.empty() ? line : m_label + ": " + line);
    }

    void channelStatusChanged(const AlarmChannelStatus& status) override {
        bool lost = false;
        bool storedAgain = false;
        bool unjournaled = false;
        bool journaledAgain = false;
        bool changed = false;
        std::string notice;
        {
            std::lock_guard lock(m_mutex);
            lost = status.lostSnapshots > m_lastStatus.lostSnapshots;
            storedAgain = m_lastStatus.snapshotTrouble && !status.snapshotTrouble;
            unjournaled =
                status.journalTrouble && status.journalTrouble != m_lastStatus.journalTrouble;
            journaledAgain = m_lastStatus.journalTrouble && !status.journalTrouble;
            m_journalFailed = m_journalFailed || unjournaled;
            notice = m_statusPrinted ? std::string() : status.journalNotice;
            // A lost snapshot or an alarm alone is not a change of state.
            AlarmChannelStatus comparable = status;
            comparable.lostSnapshots = m_lastStatus.lostSnapshots;
            comparable.snapshotTrouble = m_lastStatus.snapshotTrouble;
            comparable.journalTrouble = m_lastStatus.journalTrouble;
            comparable.lastAlarm = m_lastStatus.lastAlarm;
            changed = !m_statusPrinted || comparable != m_lastStatus;
            m_lastStatus = status;
            m_statusPrinted = true;
        }
        if (lost) {
            const std::optional<std::string> trouble = snapshotTroubleLine(status);
            note(trouble ? *trouble + " (" + std::to_string(status.lostSnapshots) +
                               " lost in this run)."
                         : "A snapshot could not be stored (" +
                               std::to_string(status.lostSnapshots) + " lost in this run).");
        }
        if (!notice.empty()) {
            note(notice + ".");
        }
        if (storedAgain) {
            note("Snapshots are stored again.");
        }
        if (unjournaled) {
            note(*journalTroubleLine(status) + ".");
        }
        if (journaledAgain) {
            note("The alarm journal is written again.");
        }
        if (changed) {
            printStatus(status);
        }
    }

    // Every snapshot (and with --journal every alarm) of the run was meant to be kept.
    bool somethingLost() {
        std::lock_guard lock(m_mutex);
        return m_lastStatus.lostSnapshots > 0 || m_journalFailed;
    }

    void setRetryTimer(int, int period_ms) override {
        {
            std::lock_guard lock(m_mutex);
            m_retryPeriod = std::chrono::milliseconds(period_ms);
            m_nextRetry = Clock::now() + m_retryPeriod;
        }
        m_wake.wake();
    }
    void killRetryTimer(int) override {
        std::lock_guard lock(m_mutex);
        m_nextRetry.reset();
    }

    // True when a tick is due now; the next one is then one period later.
    bool retryDue(Clock::time_point now) {
        std::lock_guard lock(m_mutex);
        if (!m_nextRetry || now < *m_nextRetry) {
            return false;
        }
        *m_nextRetry += m_retryPeriod;
        return true;
    }
    std::optional<Clock::time_point> nextRetry() {
        std::lock_guard lock(m_mutex);
        return m_nextRetry;
    }

  private:
    // On standard error as a sentence; with --json also as a line of its own on standard
    // output, told from event lines by its "status" key.
    void printStatus(const AlarmChannelStatus& status) {
        using State = AlarmChannelStatus::State;
        note(alarmStatusLine(status, AlarmChannelStatus::Clock::now()));
        if (!m_session.json()) {
            return;
        }
        nlohmann::ordered_json document = serverNamed();
        document["status"] = stateName(status.state);
        document["since"] = localIsoTime(status.since);
        if (status.state == State::retrying) {
            document["reason"] = reasonName(status.reason);
            if (status.reason == AlarmChannelStatus::Reason::refused) {
                document["code"] = status.code;
            }
            document["attempt"] = status.attempt;
            document["nextInSeconds"] = secondsUntil(status.nextAttempt);
        }
        m_session.printJson(document);
    }

    void print(const AlarmEvent& event) {
        const std::string image = event.imagePath.string();
        const std::uintmax_t bytes = fileBytes(event.imagePath);
        if (m_session.json()) {
            nlohmann::ordered_json document = serverNamed();
            document["name"] = event.alarmName;
            document["channel"] = event.channelId;
            document["time"] = event.timeText;
            document["image"] = image;
            document["imageBytes"] = bytes;
            m_session.printJson(document);
            return;
        }
        std::lock_guard lock(m_session.outputMutex());
        if (!m_label.empty()) {
            m_session.out() << "server=" << printableText(m_label) << '\t';
        }
        m_session.out() << "name=" << printableText(event.alarmName)
                        << "\tchannel=" << printableText(event.channelId)
                        << "\ttime=" << printableText(event.timeText)
                        << "\timage=" << printableText(image) << "\tbytes=" << bytes << '\n'
                        << std::flush;
    }

    // A JSON document that begins with the server's name where there are several.
    nlohmann::ordered_json serverNamed() const {
        nlohmann::ordered_json document = nlohmann::ordered_json::object();
        if (!m_label.empty()) {
            document["server"] = m_label;
        }
        return document;
    }

    CliSession& m_session;
    EventTally& m_tally;
    const std::string m_label;
    const WakePipe& m_wake;
    std::mutex m_mutex;
    std::chrono::milliseconds m_retryPeriod{0};
    std::optional<Clock::time_point> m_nextRetry;
    AlarmChannelStatus m_lastStatus;
    bool m_statusPrinted = false;
    bool m_journalFailed = false;
};

// The snapshot folder, or why it cannot be made.
std::variant<fs::path, std::string> snapshotFolder(const AlarmsOptions& options) {
    if (options.snapshotDir.empty()) {
        return prepareSnapshotFolder(programFolderFromPath(currentProgramPath().string()));
    }
    // A folder made here, and each parent made for it, is the user's alone, as the client's are.
    std::error_code error = makePrivateFolder(options.snapshotDir);
    if (!error) {
        fs::path folder = fs::absolute(options.snapshotDir, error);
        if (!error) {
            return folder;
        }
    }
    return "cannot create the snapshot folder " + options.snapshotDir + ": " + error.message();
}

// When the run gives up; never without a time-out.
Clock::time_point runEnd(double timeout_s) {
    if (timeout_s <= 0) {
        return Clock::time_point::max();
    }
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_s));
}

// The journal of the run, if it keeps one; or why it cannot.
std::variant<std::shared_ptr<AlarmJournal>, std::string> runJournal(const AlarmsOptions& options) {
    if (!options.journal && options.journalDir.empty()) {
        return std::shared_ptr<AlarmJournal>();
    }
    const fs::path folder =
        options.journalDir.empty() ? AlarmJournal::defaultFolder() : fs::path(options.journalDir);
    if (folder.empty()) {
        return "no journal folder: give --journal-dir";
    }
    return std::make_shared<AlarmJournal>(folder, AlarmJournal::Role::writer);
}

SnapshotRetention retentionOf(const AlarmsOptions& options) {
    return options.keep ? SnapshotRetention::KeepAll : SnapshotRetention::DeleteEvicted;
}

int retryPeriod_ms(const AlarmsOptions& options) {
    return static_cast<int>(options.retryPeriod_s * 1000);
}

int runOneServer(CliSession& session, const AlarmsOptions& options, fs::path folder,
                 std::shared_ptr<AlarmJournal> journal) {
    std::optional<AppState> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    app->m_snapshotFolder = std::move(folder);

    const WakePipe wake;
    EventTally tally(options.count, wake);
    AlarmsPrinter printer(session, tally, {}, wake);
    const Clock::time_point end = runEnd(options.timeout_s);
    const int status = [&] {
        AlarmChannel channel(*app, printer, retentionOf(options), retryPeriod_ms(options),
                             std::move(journal), journalSite(session.servers(), 0));
        channel.requestAlarmRestart();
        for (;;) {
            if (tally.complete()) {
                return kExitOk;
            }
            const Clock::time_point now = Clock::now();
            if (session.interruption().cancelled() || now >= end) {
                return options.count > 0 ? kExitIncomplete : kExitOk;
            }
            if (printer.retryDue(now)) {
                channel.requestAlarmRestart();
            }
            Clock::time_point wakeAt = end;
            if (const auto retry = printer.nextRetry()) {
                wakeAt = std::min(wakeAt, *retry);
            }
            wake.waitUntil(wakeAt, session.interruption());
        }
    }();
    return printer.somethingLost() ? kExitIncomplete : status;
}

// One of several servers, on a thread of its own: logs in until the server accepts (a server
// that is down or refuses is tried again every retry period, and holds up no other), then
// listens to its alarms until the run ends.
class ServerListener {
  public:
    struct Setup {
        const ServerOption& server;
        std::string site;
        fs::path snapshotFolder;
        std::shared_ptr<AlarmJournal> journal;
    };

    ServerListener(CliSession& session, const AlarmsOptions& options, EventTally& tally,
                   Setup setup, const Cancellation& runOver)
        : m_session(session),
          m_options(options),
          m_setup(std::move(setup)),
          m_runOver(runOver),
          m_printer(session, tally, m_setup.server.label(), m_wake),
          m_thread([this] { run(); }) {}
    ~ServerListener() {
        stopWithin(m_thread, kStopGrace_ms, "KRT", "krt-cli alarms", [this] { m_wake.wake(); });
    }
    ServerListener(const ServerListener&) = delete;
    ServerListener& operator=(const ServerListener&) = delete;

    bool somethingLost() { return m_printer.somethingLost(); }
    bool loggedIn() const { return m_loggedIn.load(); }

  private:
    static constexpr int kStopGrace_ms = 5000;

    void run() {
        // The interval without reception begins before the login, so that a server that never
        // accepts it is in the journal too.
        if (m_setup.journal) {
            m_setup.journal->startSession(m_setup.server.address, JournalClock::now(),
                                          m_setup.site);
        }
        std::optional<AppState> app = logIn();
        if (!app) {
            if (m_setup.journal) {
                m_setup.journal->endSession(JournalClock::now());
            }
            return;
        }
        app->m_snapshotFolder = m_setup.snapshotFolder;
        AlarmChannel channel(*app, m_printer, retentionOf(m_options), retryPeriod_ms(m_options),
                             m_setup.journal, m_setup.site);
        channel.requestAlarmRestart();
        while (!m_runOver.cancelled()) {
            if (m_printer.retryDue(Clock::now())) {
                channel.requestAlarmRestart();
            }
            m_wake.waitUntil(m_printer.nextRetry().value_or(Clock::time_point::max()), m_runOver);
        }
    }

    // The session state once the server accepts; nothing when the run ends first.
    std::optional<AppState> logIn() {
        std::string lastRefusal;
        while (!m_runOver.cancelled()) {
            LoginAttempt attempt = m_session.attemptLogIn(m_setup.server, m_runOver);
            if (attempt.app) {
                if (!attempt.notice.empty()) {
                    m_printer.note(attempt.notice);
                }
                m_loggedIn.store(true);
                return std::move(attempt.app);
            }
            if (m_runOver.cancelled()) {
                break;
            }
            // Each refusal once, not at every attempt.
            if (attempt.refusal != lastRefusal) {
                lastRefusal = attempt.refusal;
                reportRefusal(attempt);
            }
            if (m_setup.journal) {
                m_setup.journal->noteGapReason(attempt.reason == "server-unreachable"
                                                   ? "cannot connect to the server"
                                                   : "login refused");
            }
            m_wake.waitUntil(Clock::now() + std::chrono::milliseconds(retryPeriod_ms(m_options)),
                             m_runOver);
        }
        return std::nullopt;
    }

    void reportRefusal(const LoginAttempt& attempt) {
        const bool sentence = attempt.refusal.ends_with('.');
        m_printer.note(attempt.refusal + (sentence ? "" : ".") + " Trying again every " +
                       std::to_string(retryPeriod_ms(m_options)) + " ms.");
        if (m_session.json()) {
            m_session.printJson({{"server", m_setup.server.label()},
                                 {"result", "refused"},
                                 {"message", attempt.refusal},
                                 {"reason", attempt.reason}});
        }
    }

    CliSession& m_session;
    const AlarmsOptions& m_options;
    const Setup m_setup;
    const Cancellation& m_runOver;
    const WakePipe m_wake;
    std::atomic<bool> m_loggedIn{false};
    AlarmsPrinter m_printer;
    WorkerThread m_thread;  // last: it runs on everything above
};

// Why two of the servers cannot be told apart, if two cannot.
std::optional<std::string> duplicateServer(std::span<const ServerOption> servers) {
    for (std::size_t i = 0; i < servers.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (servers[i].label() == servers[j].label()) {
                return "the server " + servers[i].label() + " is given twice";
            }
            if (servers[i].address == servers[j].address &&
                servers[i].loginPort == servers[j].loginPort) {
                return "the servers " + servers[j].label() + " and " + servers[i].label() +
                       " are one server";
            }
        }
    }
    return std::nullopt;
}

// A folder of its own for each server's snapshots: a channel clears the unfinished snapshot
// files it finds in its folder when it starts, which would take another channel's; and each
// folder holds the newest six, as the client's does.
std::variant<fs::path, std::string> serverSnapshotFolder(const fs::path& folder,
                                                         const ServerOption& server) {
    std::string name = server.address;
    if (server.given != server.address) {
        name += "_" + std::to_string(server.loginPort);
    }
    fs::path own = folder / name;
    if (const std::error_code error = makePrivateFolder(own)) {
        return "cannot create the snapshot folder " + own.string() + ": " + error.message();
    }
    return own;
}

int runSeveralServers(CliSession& session, const AlarmsOptions& options, const fs::path& folder,
                      const std::shared_ptr<AlarmJournal>& journal) {
    std::vector<ServerListener::Setup> setups;
    for (std::size_t i = 0; i < session.servers().size(); ++i) {
        const ServerOption& server = session.servers()[i];
        std::variant<fs::path, std::string> own = serverSnapshotFolder(folder, server);
        if (const std::string* failure = std::get_if<std::string>(&own)) {
            return session.usageError(*failure);
        }
        // Each channel keeps a journal session of its own, so each needs a journal of its own;
        // the first one opened tells what the opening found.
        std::shared_ptr<AlarmJournal> ownJournal =
            !journal || i == 0
                ? journal
                : std::make_shared<AlarmJournal>(journal->folder(), AlarmJournal::Role::writer);
        setups.push_back({server, journalSite(session.servers(), i),
                          std::get<fs::path>(std::move(own)), std::move(ownJournal)});
    }
    const WakePipe wake;
    EventTally tally(options.count, wake);
    const Cancellation runOver;
    std::vector<std::unique_ptr<ServerListener>> listeners;
    listeners.reserve(setups.size());
    for (ServerListener::Setup& setup : setups) {
        listeners.push_back(
            std::make_unique<ServerListener>(session, options, tally, std::move(setup), runOver));
    }
    const Clock::time_point end = runEnd(options.timeout_s);
    int status = kExitOk;
    for (;;) {
        if (tally.complete()) {
            break;
        }
        if (session.interruption().cancelled() || Clock::now() >= end) {
            status = options.count > 0 ? kExitIncomplete : kExitOk;
            break;
        }
        wake.waitUntil(end, session.interruption());
    }
    runOver.cancel();
    const bool lost = std::ranges::any_of(
        listeners, [](const auto& listener) { return listener->somethingLost(); });
    const bool noneLoggedIn =
        std::ranges::none_of(listeners, [](const auto& listener) { return listener->loggedIn(); });
    listeners.clear();
    if (noneLoggedIn) {
        return kExitRefused;  // as one server's refusal is
    }
    return lost ? kExitIncomplete : status;
}

int runAlarms(CliSession& session, const AlarmsOptions& options) {
    if (const std::optional<std::string> duplicate = duplicateServer(session.servers())) {
        return session.usageError(*duplicate);
    }
    std::variant<fs::path, std::string> folder = snapshotFolder(options);
    if (const std::string* failure = std::get_if<std::string>(&folder)) {
        return session.usageError(*failure);
    }
    std::variant<std::shared_ptr<AlarmJournal>, std::string> journal = runJournal(options);
    if (const std::string* failure = std::get_if<std::string>(&journal)) {
        return session.usageError(*failure);
    }
    auto& runsJournal = std::get<std::shared_ptr<AlarmJournal>>(journal);
    if (session.servers().size() == 1) {
        return runOneServer(session, options, std::get<fs::path>(std::move(folder)),
                            std::move(runsJournal));
    }
    return runSeveralServers(session, options, std::get<fs::path>(folder), runsJournal);
}

}  // namespace

void registerAlarmsCommand(CommandRegistry& registry) {
    auto options = std::make_shared<AlarmsOptions>();
    CLI::App& command = registry.add(
        "alarms",
        "Subscribe to the alarms the server pushes and print one line per stored event: name, "
        "channel, time, snapshot file and its size. Keeps the six newest snapshots as the "
        "client does; resubscribes by itself when the server refuses or restarts. Every change "
        "of the subscription's state goes to standard error (with --json also to standard "
        "output, as a line with a \"status\" key). With --server given more than once, every "
        "server is listened to at once, each line begins with server=NAME (with --json a "
        "\"server\" key) and a server that is down or refuses is tried again in the background. "
        "Exit status 3 when a snapshot could not be stored",
        [options](CliSession& session) { return runAlarms(session, *options); },
        ServerUse::logsInToEach);
    command.add_option("--count", options->count, "Stop after N events (exit 0); 0: no limit")
        ->check(CLI::NonNegativeNumber);
    command
        .add_option("--timeout", options->timeout_s,
                    "Give up after SECONDS (exit 3 when fewer than N events came); 0: none")
        ->check(CLI::Range(0.0, kLongestTimeout_s));
    command.add_option("--snapshot-dir", options->snapshotDir,
                       "Folder of the snapshot files (default: EventImages beside the program, "
                       "else in the user's cache)");
    command
        .add_option("--retry-period", options->retryPeriod_s,
                    "Seconds between subscription attempts while the server refuses them")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    command.add_flag("--keep", options->keep,
                     "Keep every snapshot file instead of the six newest, and after the run");
    command.add_flag("--journal", options->journal,
                     "Write every alarm, with its snapshot, and every interval without "
                     "reception to the alarm journal the client keeps (krt-cli history reads "
                     "it) before printing it; exit status 3 when one could not be written");
    command.add_option("--journal-dir", options->journalDir,
                       "Folder of the journal, implies --journal (default: "
                       "$XDG_DATA_HOME/krt-client, else ~/.local/share/krt-client)");
}

}  // namespace krt::cli
