#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "alarms/alarm_handler.h"
#include "cli_command.h"

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
};

// A pipe whose reader sleeps until something is written to it. Writing is async-signal-safe,
// so that both the channel's threads and a signal handler can wake the waiting command.
class WakePipe {
  public:
    WakePipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        m_read = fds[0];
        m_write = fds[1];
    }
    ~WakePipe() {
        ::close(m_read);
        ::close(m_write);
    }
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    int writeFd() const { return m_write; }
    void wake() const { writeByte(m_write); }
    static void writeByte(int fd) {
        const char byte = 1;
        // A full pipe already wakes the reader; nothing is lost.
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    // Sleeps until woken or until the deadline, then empties the pipe.
    void waitUntil(Clock::time_point deadline) const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd reader{m_read, POLLIN, 0};
        ::poll(&reader, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000)));
        char drain[64];
        while (::read(m_read, drain, sizeof drain) > 0) {
        }
    }

  private:
    int m_read = -1;
    int m_write = -1;
};

std::atomic<int> g_interruptWakeFd{-1};
std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
    if (const int fd = g_interruptWakeFd.load(); fd >= 0) {
        WakePipe::writeByte(fd);
    }
}

// SIGINT and SIGTERM end the run cleanly (so the snapshots go as they should) while it lasts;
// the previous handlers come back afterwards.
class InterruptScope {
  public:
    explicit InterruptScope(const WakePipe& pipe) {
        g_interrupted.store(false);
        g_interruptWakeFd.store(pipe.writeFd());
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previousInt);
        ::sigaction(SIGTERM, &action, &m_previousTerm);
    }
    ~InterruptScope() {
        ::sigaction(SIGINT, &m_previousInt, nullptr);
        ::sigaction(SIGTERM, &m_previousTerm, nullptr);
        g_interruptWakeFd.store(-1);
    }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

  private:
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};

std::uintmax_t fileBytes(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = path.empty() ? 0 : fs::file_size(path, error);
    return error ? 0 : size;
}

// Prints each stored event and plays the retry timer for the channel.
class AlarmsPrinter : public AlarmChannelOwner {
  public:
    AlarmsPrinter(CliSession& session, int count, const WakePipe& wake)
        : m_session(session), m_count(count), m_wake(wake) {}

    void queueEventAlert(std::string_view, std::string_view, std::string_view) override {}

    void eventStored(const AlarmEvent& event) override {
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
};

std::optional<fs::path> snapshotFolder(const AlarmsOptions& options) {
    if (options.snapshotDir.empty()) {
        return prepareSnapshotFolder(programFolderFromPath(currentProgramPath().string()));
    }
    std::error_code error;
    fs::create_directories(options.snapshotDir, error);
    if (!fs::is_directory(options.snapshotDir, error)) {
        return std::nullopt;
    }
    return fs::absolute(options.snapshotDir, error);
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
    const std::optional<fs::path> folder = snapshotFolder(options);
    if (!folder) {
        return session.usageError("cannot create the snapshot folder " + options.snapshotDir);
    }
    std::optional<KRTApp> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    app->m_snapshotFolder = *folder;

    const WakePipe wake;
    const InterruptScope interrupts(wake);
    AlarmsPrinter printer(session, options.count, wake);
    const Clock::time_point end = runEnd(options.timeout_s);

    kmKRTAlarmHandlerC channel(
        *app, printer,
        options.keep ? SnapshotRetention::KeepAll : SnapshotRetention::DeleteEvicted);
    channel.requestAlarmRestart();
    for (;;) {
        if (printer.allStored()) {
            return kExitOk;
        }
        const Clock::time_point now = Clock::now();
        if (g_interrupted.load() || now >= end) {
            return options.count > 0 ? kExitIncomplete : kExitOk;
        }
        if (printer.retryDue(now)) {
            channel.requestAlarmRestart();
        }
        Clock::time_point wakeAt = end;
        if (const auto retry = printer.nextRetry()) {
            wakeAt = std::min(wakeAt, *retry);
        }
        wake.waitUntil(wakeAt);
    }
}

}  // namespace

void registerAlarmsCommand(CommandRegistry& registry) {
    auto options = std::make_shared<AlarmsOptions>();
    CLI::App& command = registry.add(
        "alarms",
        "Subscribe to the alarms the server pushes and print one line per stored event: name, "
        "channel, time, snapshot file and its size. Keeps the six newest snapshots as the "
        "client does; resubscribes by itself when the server restarts",
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
    command.add_flag("--keep", options->keep,
                     "Keep every snapshot file instead of the six newest, and after the run");
}

}  // namespace krt::cli
