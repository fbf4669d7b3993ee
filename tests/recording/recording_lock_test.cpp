#include "recording/recording_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/file_descriptor.h"
#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

// The runtime folder of one test (each test runs in a process of its own).
class RecordingLockTest : public testing::Test {
  protected:
    void SetUp() override {
        if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) {
            m_previous = previous;
        }
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    }
    // Later tests of the same process must not find a runtime folder that is gone.
    void TearDown() override {
        m_previous ? ::setenv("XDG_RUNTIME_DIR", m_previous->c_str(), 1)
                   : ::unsetenv("XDG_RUNTIME_DIR");
    }

    fs::path lockFolder() const { return m_runtime.path() / "krt-recordings"; }

    test::TempFolder m_runtime;
    std::optional<std::string> m_previous;
};

TEST_F(RecordingLockTest, OneCameraIsHeldByOneRecordingAtATimeInAPrivateFolder) {
    std::optional<RecordingLock> first = RecordingLock::take("7");
    ASSERT_TRUE(first.has_value());
    EXPECT_FALSE(RecordingLock::take("7").has_value());
    EXPECT_TRUE(RecordingLock::take("8").has_value()) << "another camera";
    EXPECT_EQ(fs::status(lockFolder()).permissions(), fs::perms::owner_all);
    first.reset();
    EXPECT_TRUE(RecordingLock::take("7").has_value());
}

// A lock folder that another user could have made or filled is not used: whoever holds the
// lock files in it holds no recording.
TEST_F(RecordingLockTest, AFolderOthersControlHoldsNoRecording) {
    struct Case {
        const char* what;
        std::function<bool(const fs::path& folder)> spoil;  // false: cannot be done here
    };
    const fs::path elsewhere = m_runtime.path() / "elsewhere";
    const std::vector<Case> table = {
        {"writable by everyone",
         [](const fs::path& folder) {
             fs::permissions(folder, fs::perms::all);
             return true;
         }},
        // Only root can give a folder to another user.
        {"another user's",
         [](const fs::path& folder) {
             return ::geteuid() == 0 && ::chown(folder.c_str(), 65534, 65534) == 0;
         }},
        {"a link to a folder",
         [&elsewhere](const fs::path& folder) {
             fs::rename(folder, elsewhere);
             fs::create_directory_symlink(elsewhere, folder);
             return true;
         }},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        fs::remove_all(lockFolder());
        fs::remove_all(elsewhere);
        ASSERT_TRUE(RecordingLock::take("7").has_value());  // makes the camera's lock file
        if (!c.spoil(lockFolder())) {
            continue;
        }
        std::deque<FileDescriptor> othersLocks;
        for (const fs::directory_entry& file : fs::directory_iterator(lockFolder())) {
            othersLocks.emplace_back(::open(file.path().c_str(), O_RDWR | O_CLOEXEC));
            ASSERT_EQ(::flock(othersLocks.back().fd(), LOCK_EX | LOCK_NB), 0);
        }
        ASSERT_FALSE(othersLocks.empty());
        EXPECT_TRUE(RecordingLock::take("7").has_value());
    }
}

}  // namespace
}  // namespace krt
