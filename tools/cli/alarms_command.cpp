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

// Prints each stored event and each change of the channel's state, and plays the retry timer
// for the channel.
class AlarmsPrinter : public AlarmChannelOwner {
  public:
    AlarmsPrinter(CliSession& session, int count, const WakePipe& wake)
        : m_session(session), m_count(count), m_wake(wake) {}

    void queueEventAlert(std::string_view, std::string_view, std::string_view) override {}

    void eventStored(const AlarmEvent& event, std::span<const char>) override {
        {
            std::lock_guard lock(m_mutex);
            if (m_count > 0 && m_stored >= m_count) {
                return;  // the run is over; only the awaited events are printed
            }
            ++m_stored;
        }
        print(event);
        m_wake.wake();
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
            m_session.note(trouble
                               ? *trouble + " (" + std::to_string(status.lostSnapshots) +
                                     " lost in this run)."
                               : "A snapshot could not be stored (" +
                                     std::to_string(status.lostSnapshots) + " lost in this run).");
        }
        if (!notice.empty()) {
            m_session.note(notice + ".");
        }
        if (storedAgain) {
            m_session.note("Snapshots are stored again.");
        }
        if (unjournaled) {
            m_session.note(*journalTroubleLine(status) + ".");
        }
        if (journaledAgain) {
            m_session.note("The alarm journal is written again.");
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

    bool allStored() {
        std::lock_guard lock(m_mutex);
        return m_count > 0 && m_stored >= m_count;
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
        m_session.note(alarmStatusLine(status, AlarmChannelStatus::Clock::now()));
        if (!m_session.json()) {
            return;
        }
        nlohmann::ordered_json document{{"status", stateName(status.state)},
                                        {"since", localIsoTime(status.since)}};
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
            m_session.printJson({{"name", event.alarmName},
                                 {"channel", event.channelId},
                                 {"time", event.timeText},
                                 {"image", image},
                                 {"imageBytes", bytes}});
            return;
        }
        std::lock_guard lock(m_session.outputMutex());
        m_session.out() << "name=" << printableText(event.alarmName)
                        << "\tchannel=" << printableText(event.channelId)
                        << "\ttime=" << printableText(event.timeText)
                        << "\timage=" << printableText(image) << "\tbytes=" << bytes << '\n'
                        << std::flush;
    }

    CliSession& m_session;
    const int m_count;
    const WakePipe& m_wake;
    std::mutex m_mutex;
    int m_stored = 0;
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

int runAlarms(CliSession& session, const AlarmsOptions& options) {
    std::variant<fs::path, std::string> folder = snapshotFolder(options);
    if (const std::string* failure = std::get_if<std::string>(&folder)) {
        return session.usageError(*failure);
    }
    std::optional<AppState> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    app->m_snapshotFolder = std::get<fs::path>(std::move(folder));

    std::shared_ptr<AlarmJournal> journal;
    if (options.journal || !options.journalDir.empty()) {
        const fs::path journalFolder = options.journalDir.empty() ? AlarmJournal::defaultFolder()
                                                                  : fs::path(options.journalDir);
        if (journalFolder.empty()) {
            return session.usageError("no journal folder: give --journal-dir");
        }
        journal = std::make_shared<AlarmJournal>(journalFolder, AlarmJournal::Role::writer);
    }

    const WakePipe wake;
    AlarmsPrinter printer(session, options.count, wake);
    const Clock::time_point end = runEnd(options.timeout_s);
    const int status = [&] {
        AlarmChannel channel(
            *app, printer,
            options.keep ? SnapshotRetention::KeepAll : SnapshotRetention::DeleteEvicted,
            static_cast<int>(options.retryPeriod_s * 1000), journal);
        channel.requestAlarmRestart();
        for (;;) {
            if (printer.allStored()) {
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

}  // namespace

void registerAlarmsCommand(CommandRegistry& registry) {
    auto options = std::make_shared<AlarmsOptions>();
    CLI::App& command = registry.add(
        "alarms",
        "Subscribe to the alarms the server pushes and print one line per stored event: name, "
        "channel, time, snapshot file and its size. Keeps the six newest snapshots as the "
        "client does; resubscribes by itself when the server refuses or restarts. Every change "
        "of the subscription's state goes to standard error (with --json also to standard "
        "output, as a line with a \"status\" key). Exit status 3 when a snapshot could not be "
        "stored",
        [options](CliSession& session) { return runAlarms(session, *options); });
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
