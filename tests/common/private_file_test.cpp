#include "common/private_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "journal/alarm_journal.h"
#include "journal/journal_export.h"
#include "journal/snapshot_export.h"
#include "journal/snapshot_file.h"
#include "layouts/layouts_file.h"
#include "media/test_jpeg.h"
#include "protocol/diag_log.h"
#include "recording/clip_recorder.h"
#include "recording/frame_snapshot.h"
#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

class Umask {
  public:
    explicit Umask(mode_t mask) : m_previous(::umask(mask)) {}
    ~Umask() { ::umask(m_previous); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t m_previous;
};

// A clip of one frame recorded into `file`, or into a name of its own in `folder`; the clip saved.
fs::path recordedClip(const fs::path& folder, const std::optional<fs::path>& file) {
    ClipRecorder recorder;
    fs::path saved;
    recorder.setListener([&saved](const RecordingNews& news) {
        if (news.kind == RecordingNews::Kind::ClipSaved) {
            saved = news.file;
        }
    });
    RecordingPlan plan;
    plan.cameraName = "Gate";
    plan.cameraKey = folder.string();
    plan.folder = folder;
    plan.file = file;
    EXPECT_EQ(recorder.start(plan), std::nullopt);
    const std::vector<unsigned char> jpeg = test::detailedJpeg(64, 48);
    LiveFrame frame;
    frame.reserve(static_cast<int>(jpeg.size()));
    std::copy(jpeg.begin(), jpeg.end(), frame.buffer().begin());
    frame.setLength(static_cast<int>(jpeg.size()));
    recorder.onFrame(frame);
    recorder.stop();
    return saved;
}

// One writer of the client's files. `write` writes into `folder` (making it when missing) the
// file whose name `target` says, or a name of its own, and returns the file it wrote.
struct Writer {
    const char* name;
    std::function<fs::path(const fs::path& folder, const fs::path& target)> write;
    // A writer of evidence keeps an existing file and picks another name; others replace it.
    bool keepsExisting = false;
};

std::vector<Writer> writers() {
    return {
        {"whole file",
         [](const fs::path& folder, const fs::path& target) {
             EXPECT_FALSE(makePrivateFolder(folder));
             EXPECT_FALSE(writePrivateFile(target, std::string_view("new content")));
             return target;
         }},
        // Evidence of the Videos page: snapshots and clips.
        {"tile snapshot",
         [](const fs::path& folder, const fs::path&) {
             const SnapshotResult saved =
                 saveSnapshot(folder, "Gate", KeptFrame{{0xFF, 0xD8, 0xFF, 0xD9}, {}});
             EXPECT_TRUE(saved.file) << saved.error;
             return saved.file.value_or(fs::path());
         },
         true},
        {"clip into its file", [](const fs::path& folder,
                                  const fs::path& target) { return recordedClip(folder, target); }},
        {"clip into the folder",
         [](const fs::path& folder, const fs::path&) { return recordedClip(folder, std::nullopt); },
         true},
        // Layouts, diagnostic log, snapshot folders. The log and the alarm snapshot (written
        // into the folder made for it) take names of their own beside any other file.
        {"layouts file",
         [](const fs::path&, const fs::path& target) {
             EXPECT_EQ(writeLayoutsFile(target, LayoutBook{}), std::nullopt);
             return target;
         }},
        {"diagnostic log's day file",
         [](const fs::path& folder, const fs::path&) {
             EXPECT_EQ(enableDiagLog(folder.string()), std::nullopt);
             setDiagLogClock([] { return LocalTime{2026, 12, 0, 6, 10, 51, 31, 123}; });
             writeLog("KRT", "m", "x");
             enableDiagLog("");
             setDiagLogClock({});
             return folder / "20261206.log";
         },
         true},
        {"alarm snapshot folder",
         [](const fs::path& folder, const fs::path& target) {
             const fs::path written = prepareSnapshotFolder(folder) / target.filename();
             EXPECT_FALSE(writeSnapshotFile(written, std::string_view("\xff\xd8\xff")));
             return written;
         },
         true},
        // The alarm journal: its database and snapshots, the exports of its rows.
        {"alarm journal",
         [](const fs::path& folder, const fs::path&) {
             AlarmJournal journal(folder, AlarmJournal::Role::writer);
             JournalEntry entry;
             entry.snapshot = std::string_view("\xFF\xD8\xFF picture");
             EXPECT_TRUE(journal.record(entry));
             return folder / AlarmJournal::kFileName;
         },
         // Names of its own.
         true},
        {"journal snapshot",
         [](const fs::path& folder, const fs::path& target) {
             EXPECT_FALSE(makePrivateFolder(folder));
             EXPECT_FALSE(writeSnapshotFile(target, std::string_view("\xFF\xD8\xFF")));
             return target;
         }},
        {"journal CSV export",
         [](const fs::path& folder, const fs::path& target) {
             EXPECT_FALSE(makePrivateFolder(folder));
             EXPECT_FALSE(saveJournalCsv(target, std::vector<JournalRow>(1)));
             return target;
         }},
        {"journal snapshot export",
         [](const fs::path& folder, const fs::path& target) {
             EXPECT_FALSE(makePrivateFolder(folder));
             const fs::path kept = folder.parent_path() / "kept.jpg";
             EXPECT_FALSE(writeSnapshotFile(kept, std::string_view("\xFF\xD8\xFF")));
             EXPECT_FALSE(copySnapshotFile(kept, target));
             return target;
         }},
    };
}

TEST(FileRules, EveryWriterMakesTheUsersFilesAloneWhateverTheUmask) {
    for (const Writer& writer : writers()) {
        for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
            SCOPED_TRACE(std::string(writer.name) + " under umask " + std::to_string(mask));
            test::TempFolder temp;
            const fs::path folder = temp.path() / "made" / "here";
            const Umask umask(mask);
            const fs::path written = writer.write(folder, folder / "file");
            EXPECT_EQ(modeOf(written), 0600u);
            EXPECT_EQ(modeOf(folder), 0700u);
            EXPECT_EQ(modeOf(folder.parent_path()), 0700u);
        }
    }
}

TEST(FileRules, NoWriterFollowsAPlantedLinkOrLeavesATemporaryFile) {
    for (const Writer& writer : writers()) {
        SCOPED_TRACE(writer.name);
        test::TempFolder temp;
        const fs::path folder = temp.path() / "files";
        fs::create_directory(folder);
        const fs::path victim = temp.path() / "victim";
        std::ofstream(victim) << "untouched";
        // The target's own name and every name a writer used to write through first.
        const fs::path target = folder / "file";
        for (const std::string& planted : {std::string("file"), std::string("file.part"),
                                           std::string("file.new"), std::string(".file.part")}) {
            fs::create_symlink(victim, folder / planted);
        }
        const fs::path written = writer.write(folder, target);
        EXPECT_EQ(contentOf(victim), "untouched");
        EXPECT_FALSE(fs::is_symlink(written));
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_FALSE(temporaryFileWriter(entry.path().filename().string())) << entry.path();
        }
    }
}

TEST(FileRules, AnExistingFileIsReplacedWholeOrKept) {
    for (const Writer& writer : writers()) {
        SCOPED_TRACE(writer.name);
        test::TempFolder temp;
        const fs::path folder = temp.path() / "files";
        fs::create_directory(folder);
        const fs::path target = folder / "file";
        std::ofstream(target) << "earlier";
        const fs::path written = writer.write(folder, target);
        if (writer.keepsExisting) {
            EXPECT_EQ(contentOf(target), "earlier");
            EXPECT_NE(written, target);
        } else {
            EXPECT_EQ(written, target);
            EXPECT_NE(contentOf(target), "earlier");
        }
        EXPECT_EQ(modeOf(written), 0600u);
    }
}

TEST(PrivateTemporaryFile, KeepsAnExistingTargetWhenAskedAndLeavesNothingBehind) {
    test::TempFolder temp;
    const fs::path target = temp.path() / "clip.mkv";
    std::ofstream(target) << "first";
    {
        PrivateTemporaryFile file(target);
        ASSERT_FALSE(file.error());
        ASSERT_TRUE(writeAll(file.fd(), std::string_view("second")));
        EXPECT_EQ(file.commit(PrivateTemporaryFile::Existing::Keep),
                  std::make_error_code(std::errc::file_exists));
    }
    {
        PrivateTemporaryFile abandoned(temp.path() / "other");
        ASSERT_FALSE(abandoned.error());
    }
    EXPECT_EQ(contentOf(target), "first");
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
}

TEST(PrivateTemporaryFile, LeftoversOfWritersThatNoLongerRunAreRemovedOnly) {
    test::TempFolder temp;
    const std::string running = ".a.jpg." + std::to_string(::getpid()) + "-0.part";
    // Above the kernel's highest process ID, so its writer is gone.
    const std::string crashed = ".b.jpg.4194305-3.part";
    for (const std::string& name : {running, crashed, std::string("c.part"),
                                    std::string(".d.jpg.x-1.part"), std::string("e.jpg")}) {
        std::ofstream(temp.path() / name) << "x";
    }
    EXPECT_EQ(temporaryFileWriter(running), ::getpid());
    EXPECT_FALSE(temporaryFileWriter("c.part"));
    EXPECT_FALSE(temporaryFileWriter(".d.jpg.x-1.part"));
    EXPECT_FALSE(temporaryFileWriter(".d.jpg.12.part"));
    removeLeftoverTemporaryFiles(temp.path());
    EXPECT_TRUE(fs::exists(temp.path() / running));
    EXPECT_TRUE(fs::exists(temp.path() / "c.part"));
    EXPECT_TRUE(fs::exists(temp.path() / "e.jpg"));
    EXPECT_FALSE(fs::exists(temp.path() / crashed));
}

}  // namespace
}  // namespace krt
