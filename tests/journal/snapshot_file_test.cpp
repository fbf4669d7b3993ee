#include "journal/snapshot_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace krt {
namespace {

namespace fs = std::filesystem;

class SnapshotFileTest : public testing::Test {
  protected:
    void SetUp() override {
        m_folder =
            fs::temp_directory_path() / ("krt-snapshot-" + std::to_string(std::random_device{}()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    static std::string contents(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    int entryCount() const {
        return static_cast<int>(std::distance(fs::directory_iterator(m_folder), {}));
    }

    fs::path m_folder;
};

// Whatever the umask, a snapshot is the user's alone.
TEST_F(SnapshotFileTest, WritesEveryBytePrivatelyAndReplacesAnEarlierFile) {
    const fs::path path = m_folder / "20131125103000123.jpg";
    for (const mode_t mask : {0000, 0022, 0077, 0277}) {
        SCOPED_TRACE(mask);
        const mode_t previous = ::umask(mask);
        const std::string first("\xFF\xD8\0first\xFF\xD9", 10);
        const std::error_code firstError = writeSnapshotFile(path, first);
        const std::string second(50 * 1024, '\x5A');
        const std::error_code secondError = writeSnapshotFile(path, second);
        ::umask(previous);
        EXPECT_FALSE(firstError);
        EXPECT_FALSE(secondError);
        EXPECT_EQ(contents(path), second);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(entryCount(), 1) << "no temporary file is left beside the snapshot";
    }
}

TEST_F(SnapshotFileTest, SaysWhyAndLeavesNothingWhenTheFileCannotBeWritten) {
    const fs::path taken = m_folder / "taken.jpg";
    fs::create_directory(taken);
    const std::vector<std::pair<fs::path, std::errc>> table = {
        {m_folder / "missing" / "1.jpg", std::errc::no_such_file_or_directory},
        {taken, std::errc::is_a_directory},
    };
    for (const auto& [path, error] : table) {
        SCOPED_TRACE(path);
        EXPECT_EQ(writeSnapshotFile(path, std::string("bytes")), std::make_error_code(error));
        EXPECT_EQ(entryCount(), 1) << "the folder in the way only";
    }
    EXPECT_TRUE(fs::is_directory(taken));
}

// Temporary files whose writer no longer runs (a crash) go, of today's names and of earlier
// versions'; those of a running writer and every other file stay.
TEST_F(SnapshotFileTest, LeftoverTemporaryFilesOfWritersThatEndedAreRemoved) {
    const std::string running = ".snapshot-" + std::to_string(::getpid()) + "-0.part";
    const std::vector<std::string> kept = {running, "20131125103000123.jpg", ".snapshot-x-1.part"};
    // Above any process ID.
    const std::vector<std::string> ended = {".snapshot-2147483000-7.part",
                                            ".20131125103000123.jpg.2147483000-7.part"};
    for (const std::string& name : kept) {
        std::ofstream(m_folder / name) << "x";
    }
    for (const std::string& name : ended) {
        std::ofstream(m_folder / name) << "x";
    }

    removeLeftoverSnapshotParts(m_folder);

    for (const std::string& name : ended) {
        EXPECT_FALSE(fs::exists(m_folder / name)) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_TRUE(fs::exists(m_folder / name)) << name;
    }
}

TEST_F(SnapshotFileTest, OnlyBytesThatStartAsAJpegAreAPicture) {
    EXPECT_TRUE(isJpeg(std::string_view("\xFF\xD8\xFF\xE0rest")));
    EXPECT_FALSE(isJpeg(std::string_view("\xFF\xD8")));
    EXPECT_FALSE(isJpeg(std::string_view("<kmResponse><kmReturnCode>-1</kmReturnCode>")));
    EXPECT_FALSE(isJpeg(std::string_view()));
}

TEST_F(SnapshotFileTest, RemovingAMissingFileIsFine) {
    const fs::path path = m_folder / "1.jpg";
    ASSERT_FALSE(writeSnapshotFile(path, std::string("x")));
    removeSnapshotFile(path);
    EXPECT_FALSE(fs::exists(path));
    removeSnapshotFile(path);
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace krt
