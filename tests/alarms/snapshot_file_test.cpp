#include "alarms/snapshot_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

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

TEST_F(SnapshotFileTest, WritesEveryByteAndReplacesAnEarlierFile) {
    const fs::path path = m_folder / "20131125103000123.jpg";
    const std::string first("\xFF\xD8\0first\xFF\xD9", 10);
    ASSERT_TRUE(writeSnapshotFile(path, first));
    EXPECT_EQ(contents(path), first);

    const std::string second(50 * 1024, '\x5A');
    ASSERT_TRUE(writeSnapshotFile(path, second));
    EXPECT_EQ(contents(path), second);
    EXPECT_EQ(entryCount(), 1) << "no temporary file is left beside the snapshot";
}

TEST_F(SnapshotFileTest, FailsWithoutLeavingAnythingWhenTheFolderIsMissing) {
    const fs::path path = m_folder / "missing" / "1.jpg";
    EXPECT_FALSE(writeSnapshotFile(path, std::string("bytes")));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(entryCount(), 0);
}

TEST_F(SnapshotFileTest, FailsWithoutLeavingAnythingWhenTheTargetIsAFolder) {
    const fs::path path = m_folder / "taken.jpg";
    fs::create_directory(path);
    EXPECT_FALSE(writeSnapshotFile(path, std::string("bytes")));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(entryCount(), 1);
}

// Temporary files whose writer no longer runs (a crash) go; those of a running writer and every
// other file stay.
TEST_F(SnapshotFileTest, LeftoverTemporaryFilesOfWritersThatEndedAreRemoved) {
    const std::string running = ".snapshot-" + std::to_string(::getpid()) + "-0.part";
    const std::vector<std::string> kept = {running, "20131125103000123.jpg", ".snapshot-x-1.part"};
    const std::string ended = ".snapshot-2147483000-7.part";  // above any process ID
    for (const std::string& name : kept) {
        std::ofstream(m_folder / name) << "x";
    }
    std::ofstream(m_folder / ended) << "x";

    removeLeftoverSnapshotParts(m_folder);

    EXPECT_FALSE(fs::exists(m_folder / ended));
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
    ASSERT_TRUE(writeSnapshotFile(path, std::string("x")));
    removeSnapshotFile(path);
    EXPECT_FALSE(fs::exists(path));
    removeSnapshotFile(path);
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace krt
