#include "common/app_state.h"

#include <gtest/gtest.h>
#include <fstream>

#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, CutsAtTheLastSeparatorButNeverAtTheFirstCharacter) {
    struct Case {
        const char* path;
        const char* folder;
    };
    for (const Case c :
         {Case{"\\Storage Card\\Viewer\\app.exe", "\\Storage Card\\Viewer"},
          Case{"\\app.exe", "\\app.exe"}, Case{"/opt/krt/bin/krt-client", "/opt/krt/bin"},
          Case{"/krt-client", "/krt-client"}, Case{"C:/dir\\mixed/app", "C:/dir\\mixed"},
          Case{"app.exe", "app.exe"}, Case{"", ""}, Case{"a/", "a"}}) {
        EXPECT_EQ(programFolderFromPath(c.path), c.folder) << c.path;
    }
}

TEST(ProgramFolder, TheRunningProgramLivesInTheBuildTree) {
    const fs::path program = currentProgramPath();
    EXPECT_EQ(program.filename(), "krt_core_tests");
    EXPECT_EQ(programFolderFromPath(program.string()), program.parent_path().string());
}

TEST(SnapshotFolder, IsCreatedBesideTheProgramForTheUserAlone) {
    test::TempFolder folder;
    const fs::path snapshots = prepareSnapshotFolder(folder.path());
    EXPECT_EQ(snapshots, folder.path() / "EventImages");
    EXPECT_TRUE(fs::is_directory(snapshots));
    EXPECT_EQ(fs::status(snapshots).permissions(), fs::perms::owner_all);
    EXPECT_EQ(prepareSnapshotFolder(folder.path()), snapshots);
}

TEST(SnapshotFolder, FallsBackToTheUserCacheWhereTheProgramFolderCannotOrMustNotHoldIt) {
    test::TempFolder folder;
    const fs::path notAFolder = folder.path() / "app.exe";
    std::ofstream(notAFolder) << "program";
    const fs::path cache = folder.path() / "cache";
    const char* previous = std::getenv("XDG_CACHE_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    // An installed program's folder is writable for root but still not used.
    for (const fs::path& programFolder :
         {notAFolder, fs::path("/usr/bin"), fs::path("/opt/krt/bin"), fs::path("/bin")}) {
        EXPECT_EQ(prepareSnapshotFolder(programFolder), cache / "krt-client" / "EventImages")
            << programFolder;
    }
    previous ? ::setenv("XDG_CACHE_HOME", saved.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
    EXPECT_TRUE(fs::is_directory(cache / "krt-client" / "EventImages"));
    EXPECT_FALSE(fs::exists("/usr/bin/EventImages"));
}

TEST(AppState, StartsWithTheFixedServerPortAndNothingElse) {
    const AppState app;
    EXPECT_EQ(app.m_serverPort, 5500);
    EXPECT_EQ(app.m_loginPort, 0);
    EXPECT_TRUE(app.m_serverAddress.empty());
    EXPECT_EQ(app.channelCount(), 0);
}

}  // namespace
}  // namespace krt
