#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alarms/alarm_status_text.h"
#include "cli_command.h"
#include "journal/alarm_journal.h"
#include "journal_time.h"

namespace krt::cli {
namespace {

namespace fs = std::filesystem;

// Rows are read from the journal this many at a time, so that a long history needs little
// memory.
constexpr std::size_t kRowsPerRead = 1000;

struct HistoryOptions {
    std::string since;
    std::string until;
    std::string channel;
    std::string name;
    bool unreviewed = false;
    std::optional<std::string> site;
    std::string journalDir;
};

nlohmann::ordered_json timeOrNull(const std::optional<JournalClock::time_point>& time) {
    return time ? nlohmann::ordered_json(localIsoTime(*time)) : nlohmann::ordered_json();
}

nlohmann::ordered_json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

class HistoryPrinter {
  public:
    HistoryPrinter(CliSession& session, fs::path snapshots)
        : m_session(session), m_snapshots(std::move(snapshots)) {}

    void print(const JournalRow& row) {
        if (row.kind == JournalRow::Kind::gap) {
            printGap(row);
        } else {
            printAlarm(row);
        }
    }

  private:
    std::string snapshot(const JournalRow& row) const {
        return row.snapshotName.empty() ? std::string() : (m_snapshots / row.snapshotName).string();
    }

    void printAlarm(const JournalRow& row) {
        if (m_session.json()) {
            m_session.printJson({{"kind", "alarm"},
                                 {"id", row.id},
                                 {"server", row.server},
                                 {"site", row.site},
                                 {"received", localIsoTime(row.time)},
                                 {"channel", row.channelId},
                                 {"name", row.alarmName},
                                 {"time", row.timeText},
                                 {"late", row.late},
                                 {"snapshot", snapshot(row)},
                                 {"snapshotBytes", row.snapshotBytes},
                                 {"snapshotMissing", textOrNull(row.snapshotMissing)},
                                 {"reviewedAt", timeOrNull(row.reviewedAt)},
                                 {"reviewedBy", row.reviewedBy},
                                 {"note", row.note}});
            return;
        }
        std::lock_guard lock(m_session.outputMutex());
        m_session.out() << "id=" << row.id << "\treceived=" << localIsoTime(row.time)
                        << "\tchannel=" << printableText(row.channelId)
                        << "\tname=" << printableText(row.alarmName)
                        << "\ttime=" << printableText(row.timeText) << "\tlate=" << row.late
                        << "\tsnapshot=" << printableText(snapshot(row))
                        << "\treviewed=" << (row.reviewedAt ? localIsoTime(*row.reviewedAt) : "")
                        << "\tby=" << printableText(row.reviewedBy)
                        << "\tnote=" << printableText(row.note)
                        << "\tsite=" << printableText(row.site) << '\n';
    }

    void printGap(const JournalRow& row) {
        const std::string text = gapText(row, JournalClock::now());
        if (m_session.json()) {
            m_session.printJson({{"kind", "gap"},
                                 {"id", row.id},
                                 {"server", row.server},
                                 {"site", row.site},
                                 {"from", localIsoTime(row.time)},
                                 {"to", timeOrNull(row.gapEnd)},
                                 {"reason", row.gapReason},
                                 {"text", text}});
            return;
        }
        std::lock_guard lock(m_session.outputMutex());
        m_session.out() << "gap=" << row.id << "\tfrom=" << localIsoTime(row.time)
                        << "\tto=" << (row.gapEnd ? localIsoTime(*row.gapEnd) : "")
                        << "\treason=" << printableText(row.gapReason)
                        << "\tsite=" << printableText(row.site) << '\t' << printableText(text)
                        << '\n';
    }

    CliSession& m_session;
    fs::path m_snapshots;
};

int runHistory(CliSession& session, const HistoryOptions& options) {
    const JournalClock::time_point now = JournalClock::now();
    JournalFilter filter;
    filter.channelId = options.channel;
    filter.nameContains = options.name;
    filter.unreviewedOnly = options.unreviewed;
    filter.site = options.site;
    for (const auto& [text, time] :
         {std::pair{&options.since, &filter.since}, std::pair{&options.until, &filter.until}}) {
        if (text->empty()) {
            continue;
        }
        *time = parseJournalTime(*text, now);
        if (!*time) {
            return session.usageError("not a time: " + *text +
                                      " (2026-01-07 14:02, 14:02, -15m, -2h, -3d)");
        }
    }
    const fs::path folder =
        options.journalDir.empty() ? AlarmJournal::defaultFolder() : fs::path(options.journalDir);
    if (folder.empty()) {
        return session.usageError("no journal folder: give --journal-dir");
    }
    AlarmJournal journal(folder, AlarmJournal::Role::reader);
    const std::vector<JournalKey> keys = journal.list(filter);
    if (const std::optional<JournalTrouble> trouble = journal.trouble()) {
        session.note("The alarm journal in " + trouble->folder.string() +
                     " cannot be read: " + storageErrorText(trouble->error));
        return kExitIncomplete;
    }
    HistoryPrinter printer(session, journal.snapshotFolder());
    for (std::size_t start = 0; start < keys.size(); start += kRowsPerRead) {
        const std::span<const JournalKey> page(keys.data() + start,
                                               std::min(kRowsPerRead, keys.size() - start));
        for (const JournalRow& row : journal.rows(page)) {
            printer.print(row);
        }
    }
    return kExitOk;
}

}  // namespace

void registerHistoryCommand(CommandRegistry& registry) {
    auto options = std::make_shared<HistoryOptions>();
    CLI::App& command = registry.add(
        "history",
        "Print the alarm journal, newest first, without logging in: one line per alarm (ID, "
        "times, channel, name, snapshot, review) and one per interval in which no alarm could "
        "be received. Times are local: 2026-01-07 14:02[:11], 14:02 (today), or -90, -15m, "
        "-2h, -3d before now",
        [options](CliSession& session) { return runHistory(session, *options); }, ServerUse::none);
    command.add_option("--since", options->since, "Only what happened from TIME on");
    command.add_option("--until", options->until, "Only what happened up to TIME");
    command.add_option("--channel", options->channel, "Only the alarms of this channel ID");
    command.add_option("--name", options->name,
                       "Only the alarms whose name contains TEXT, ignoring letter case");
    command.add_flag("--unreviewed", options->unreviewed, "Only alarms nobody has reviewed");
    // Not --server: that is the login's option, and this command logs in nowhere.
    command.add_option("--site", options->site,
                       "Only the alarms and intervals of the server of this NAME, as krt-cli "
                       "alarms --server NAME=ADDRESS journals it (\"\": the first server's)");
    command.add_option("--journal-dir", options->journalDir,
                       "Folder of the journal (default: $XDG_DATA_HOME/krt-client, else "
                       "~/.local/share/krt-client)");
}

}  // namespace krt::cli
