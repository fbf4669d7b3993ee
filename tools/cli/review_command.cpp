#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "alarms/alarm_status_text.h"
#include "cli_command.h"
#include "journal/alarm_journal.h"

namespace krt::cli {
namespace {

namespace fs = std::filesystem;

struct ReviewOptions {
    std::vector<std::int64_t> ids;
    std::string note;
    std::string journalDir;
};

// Who reviews: the user named with --user, else the one logged in on this machine.
std::string reviewer(const CliSession& session) {
    if (!session.options().user.empty()) {
        return session.options().user;
    }
    if (const passwd* account = ::getpwuid(::geteuid()); account != nullptr) {
        return account->pw_name;
    }
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

int runReview(CliSession& session, ReviewOptions options) {
    std::ranges::sort(options.ids);
    const auto [first, last] = std::ranges::unique(options.ids);
    options.ids.erase(first, last);
    const fs::path folder =
        options.journalDir.empty() ? AlarmJournal::defaultFolder() : fs::path(options.journalDir);
    if (folder.empty()) {
        return session.usageError("no journal folder: give --journal-dir");
    }
    AlarmJournal journal(folder, AlarmJournal::Role::reader);
    const int marked =
        journal.markReviewed(options.ids, reviewer(session), options.note, JournalClock::now());
    if (const std::optional<JournalTrouble> trouble = journal.trouble()) {
        session.note("The alarm journal cannot be written: " + storageErrorText(trouble->error) +
                     " in " + trouble->folder.string());
        return kExitIncomplete;
    }
    const auto missing = static_cast<int>(options.ids.size()) - marked;
    if (session.json()) {
        session.printJson({{"reviewed", marked}, {"notFound", missing}});
    } else {
        std::lock_guard lock(session.outputMutex());
        session.out() << marked << (marked == 1 ? " alarm" : " alarms") << " marked reviewed\n";
    }
    if (missing > 0) {
        session.note(std::to_string(missing) + " of the IDs are no alarms of the journal.");
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace

void registerReviewCommand(CommandRegistry& registry) {
    auto options = std::make_shared<ReviewOptions>();
    CLI::App& command = registry.add(
        "review",
        "Mark alarms of the journal reviewed, by their IDs (krt-cli history shows them), "
        "recording who (--user, else the login name) and when, without logging in. Exit "
        "status 3 when an ID is no alarm of the journal",
        [options](CliSession& session) { return runReview(session, *options); }, ServerUse::none);
    command.add_option("ids", options->ids, "The alarms' IDs")
        ->required()
        ->check(CLI::PositiveNumber);
    command.add_option("--note", options->note, "A note to keep with the review");
    command.add_option("--journal-dir", options->journalDir,
                       "Folder of the journal (default: $XDG_DATA_HOME/krt-client, else "
                       "~/.local/share/krt-client)");
}

}  // namespace krt::cli
