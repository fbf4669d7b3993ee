#include "protocol/diag_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr LocalTime kSixthDecember{2026, 12, 0, 6, 10, 51, 31, 123};

TEST(WriteLog, IsSilentWhileSwitchedOff) {
    test::TempFolder folder;
    enableDiagLog("");
    writeLog("Tessaline.exe", "m", "x");
    EXPECT_FALSE(diagLogEnabled());
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

TEST(WriteLog, AppendsTheEntryToTheDayFile) {
    test::LogCapture log;
    setDiagLogClock([] { return kSixthDecember; });
    writeLog("Tessaline.exe", "kmMgrSocketCommon::sendData()", "Invalid socket");
    writeLog("KRT", nullptr, "only module and message");
    writeLog(nullptr, nullptr, nullptr);
    const fs::path file = log.folder() / "20261206.log";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(log.contents(),
              "\n2026/12/06/ 10:51:31:123 - Tessaline.exe-kmMgrSocketCommon::sendData()-Invalid "
              "socket-"
              "\n2026/12/06/ 10:51:31:123 - KRT-only module and message-"
              "\n2026/12/06/ 10:51:31:123 - ");
}

TEST(WriteLog, StartsANewFileAfterMidnight) {
    test::LogCapture log;
    LocalTime now{2026, 12, 0, 6, 23, 59, 59, 999};
    setDiagLogClock([&now] { return now; });
    writeLog("KRT", "before", "");
    now = LocalTime{2026, 12, 1, 7, 0, 0, 0, 1};
    writeLog("KRT", "after", "");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(log.folder())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"20261206.log", "20261207.log"}));
    EXPECT_EQ(log.contents(),
              "\n2026/12/06/ 23:59:59:999 - KRT-before--"
              "\n2026/12/07/ 00:00:00:001 - KRT-after--");
}

TEST(WriteLog, SerialisesConcurrentCallers) {
    test::LogCapture log;
    constexpr int kThreads = 4;
    constexpr int kEntries = 250;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            const std::string method = "writer" + std::to_string(t);
            for (int i = 0; i < kEntries; ++i) {
                writeLog("KRT", method.c_str(), "entry");
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(log.count(" - KRT-writer" + std::to_string(t) + "-entry-"), kEntries);
    }
    EXPECT_EQ(log.count("\n"), kThreads * kEntries);
}

TEST(WriteLog, AFolderThatCannotBeMadeLeavesTheLogOffAndSaysWhy) {
    test::TempFolder folder;
    const fs::path inTheWay = folder.path() / "file";
    std::ofstream(inTheWay) << "not a folder";
    for (const fs::path& wanted : {inTheWay, inTheWay / "deeper"}) {
        const std::optional<std::string> failure = enableDiagLog(wanted.string());
        ASSERT_TRUE(failure) << wanted;
        EXPECT_THAT(*failure, HasSubstr(inTheWay.string()));
        EXPECT_FALSE(diagLogEnabled());
        writeLog("KRT", "m", "x");
    }
    enableDiagLog("");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

// Sets the process's umask for one test and restores it.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

  private:
    mode_t m_previous;
};

fs::perms modeOf(const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::mask;
}

TEST(WriteLog, FoldersAndFilesArePrivateWhateverTheUmask) {
    for (const mode_t mask : {0000, 0022, 0077, 0277}) {
        const ScopedUmask umask(static_cast<mode_t>(mask));
        test::TempFolder folder;
        const fs::path parent = folder.path() / "logs";
        const fs::path logFolder = parent / "krt";
        ASSERT_EQ(enableDiagLog(logFolder.string()), std::nullopt) << std::oct << mask;
        setDiagLogClock([] { return kSixthDecember; });
        // A day file an older run left readable to others is made private too.
        const fs::path older = logFolder / "20261207.log";
        std::ofstream(older) << "older";
        fs::permissions(older, fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
        writeLog("KRT", "m", "x");
        setDiagLogClock([] { return LocalTime{2026, 12, 1, 7, 9, 0, 0, 0}; });
        writeLog("KRT", "m", "y");
        enableDiagLog("");
        setDiagLogClock({});

        EXPECT_EQ(modeOf(parent), fs::perms::owner_all) << std::oct << mask;
        EXPECT_EQ(modeOf(logFolder), fs::perms::owner_all) << std::oct << mask;
        for (const char* name : {"20261206.log", "20261207.log"}) {
            EXPECT_EQ(modeOf(logFolder / name), fs::perms::owner_read | fs::perms::owner_write)
                << std::oct << mask << " " << name;
        }
    }
}

TEST(WriteLog, ALinkOrAFifoInTheDayFilesPlaceIsLeftAlone) {
    const std::vector<std::function<void(const fs::path& dayFile, const fs::path& victim)>>
        planted = {[](const fs::path& dayFile, const fs::path& victim) {
                       fs::create_symlink(victim, dayFile);
                   },
                   [](const fs::path& dayFile, const fs::path&) {
                       ASSERT_EQ(::mkfifo(dayFile.c_str(), 0600), 0);
                   }};
    for (const auto& plant : planted) {
        test::TempFolder folder;
        const fs::path victim = folder.path() / "victim";
        std::ofstream(victim) << "untouched";
        const fs::path dayFile = folder.path() / "20261206.log";
        plant(dayFile, victim);
        ASSERT_EQ(enableDiagLog(folder.path().string()), std::nullopt);
        setDiagLogClock([] { return kSixthDecember; });
        writeLog("KRT", "m", "x");
        enableDiagLog("");
        setDiagLogClock({});
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(dayFile)));
        std::ifstream read(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(read), {}), "untouched");
    }
}

TEST(WriteLog, AnExistingFolderKeepsItsMode) {
    test::TempFolder folder;
    fs::permissions(folder.path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    ASSERT_EQ(enableDiagLog(folder.path().string()), std::nullopt);
    enableDiagLog("");
    EXPECT_EQ(modeOf(folder.path()),
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

TEST(WriteLog, TheEnvironmentVariableTurnsItOn) {
    test::TempFolder folder;
    ::setenv("KRT_LOG_DIR", folder.path().c_str(), 1);
    enableDiagLogFromEnvironment();
    ::unsetenv("KRT_LOG_DIR");
    setDiagLogClock([] { return kSixthDecember; });
    writeLog("KRT", "m", "x");
    enableDiagLog("");
    setDiagLogClock({});
    EXPECT_TRUE(fs::exists(folder.path() / "20261206.log"));
}

TEST(FormatTimestamp, WritesSeventeenDigits) {
    std::array<char, 18> buffer{};
    ASSERT_EQ(formatTimestamp(kSixthDecember, buffer.data(), buffer.size()), 1);
    EXPECT_EQ(std::string(buffer.data()), "20261206105131123");
}

TEST(FormatTimestamp, RefusesASmallOrMissingBuffer) {
    std::array<char, 17> small;
    small.fill('#');
    EXPECT_EQ(formatTimestamp(kSixthDecember, small.data(), small.size()), 0);
    EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](char c) { return c == '#'; }));
    EXPECT_EQ(formatTimestamp(kSixthDecember, nullptr, 18), 0);
}

}  // namespace
}  // namespace krt
