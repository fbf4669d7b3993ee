#include "common/ui/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fstream>
#include <sstream>

#include "support/log_capture.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = kSettingsKey;

class SettingsStore : public ::testing::Test {
  protected:
    SettingsStore() : m_file(m_folder.path() / "config" / "Kelmar" / "store.ini") {
        setSettingsFilePath(m_file.string());
    }
    ~SettingsStore() override { setSettingsFilePath(""); }

    unsigned mode(const fs::path& path) const {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }
    std::string fileText() const {
        std::ifstream in(m_file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    test::TempFolder m_folder;
    fs::path m_file;
};

TEST_F(SettingsStore, ATextReadsBackFollowedByTheZerosOfTheBuffer) {
    ASSERT_EQ(writeRegistryString(kKey, "ShowAlerts", "true"), 1);
    std::array<char, 256> buffer{};
    ASSERT_EQ(readRegistryString(kKey, "ShowAlerts", buffer), 1);
    EXPECT_EQ(std::string(buffer.data()), "true");
    EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.end(), [](char c) { return c == 0; }));
}

TEST_F(SettingsStore, TextsKeepEveryCharacterAsEntered) {
    const std::vector<std::string> values = {
        "oper", "pa ss;w=rd#\"x\\y",  "@Variant(x)", "  lead", "10.1.2.3",
        "äöü",  std::string(255, 'p')};
    for (const std::string& value : values) {
        ASSERT_EQ(writeRegistryString(kKey, "Password", value), 1);
        std::array<char, 256> buffer{};
        ASSERT_EQ(readRegistryString(kKey, "Password", buffer), 1);
        EXPECT_EQ(std::string(buffer.data()), value);
    }
}

TEST_F(SettingsStore, AMissingFileKeyOrValueReadsAsNothingAndLeavesTheBuffer) {
    std::array<char, 256> buffer{};
    EXPECT_EQ(readRegistryString(kKey, "UserName", buffer), 0);
    ASSERT_EQ(writeRegistryString(kKey, "UserName", "oper"), 1);
    EXPECT_EQ(readRegistryString(kKey, "IPAddress", buffer), 0);
    EXPECT_EQ(readRegistryString("SOFTWARE\\Other", "UserName", buffer), 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 0; }));
}

TEST_F(SettingsStore, AValueLongerThanTheBufferIsNotCut) {
    ASSERT_EQ(writeRegistryString(kKey, "UserName", "operator"), 1);
    std::array<char, 4> small{};
    EXPECT_EQ(readRegistryString(kKey, "UserName", small), 0);
    EXPECT_EQ(small, (std::array<char, 4>{}));
}

TEST_F(SettingsStore, DeletingRemovesOnlyThatValue) {
    ASSERT_EQ(writeRegistryString(kKey, "UserName", "oper"), 1);
    ASSERT_EQ(writeRegistryString(kKey, "Password", "secret"), 1);
    EXPECT_EQ(deleteRegistryValue(kKey, "Password"), 1);
    EXPECT_EQ(deleteRegistryValue(kKey, "Password"), 0);
    std::array<char, 256> buffer{};
    EXPECT_EQ(readRegistryString(kKey, "Password", buffer), 0);
    EXPECT_EQ(readRegistryString(kKey, "UserName", buffer), 1);
    EXPECT_EQ(std::string(buffer.data()), "oper");
}

TEST_F(SettingsStore, DeletingFromAStoreThatDoesNotExistFails) {
    EXPECT_EQ(deleteRegistryValue(kKey, "Password"), 0);
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(SettingsStore, TheFileIsPrivateToTheUserAndStaysSo) {
    ASSERT_EQ(writeRegistryString(kKey, "Password", "secret"), 1);
    EXPECT_EQ(mode(m_file), 0600u);
    EXPECT_EQ(mode(m_file.parent_path()), 0700u);
    ::chmod(m_file.c_str(), 0644);
    ASSERT_EQ(writeRegistryString(kKey, "Password", "other"), 1);
    EXPECT_EQ(mode(m_file), 0600u);
    ASSERT_EQ(deleteRegistryValue(kKey, "Password"), 1);
    EXPECT_EQ(mode(m_file), 0600u);
}

TEST_F(SettingsStore, EachWriteIsOnDiskAtOnceUnderTheKeyPath) {
    ASSERT_EQ(writeRegistryString(kKey, "RememberLogin", "true"), 1);
    const std::string text = fileText();
    EXPECT_NE(text.find("ZededUzeriZerave"), std::string::npos) << text;
    EXPECT_NE(text.find("RememberLogin=true"), std::string::npos) << text;
}

TEST_F(SettingsStore, AnUnwritableLocationFails) {
    const fs::path blocker = m_folder.path() / "file";
    std::ofstream(blocker) << "x";
    setSettingsFilePath((blocker / "store.ini").string());
    EXPECT_EQ(writeRegistryString(kKey, "UserName", "oper"), 0);
}

}  // namespace
}  // namespace krt
