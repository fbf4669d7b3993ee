#include "common/ui/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>
#include <vector>

#include "support/log_capture.h"
#include "support/small_folder.h"

namespace krt {
namespace {

namespace fs = std::filesystem;

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

// Values of every kind the setting may hold: both switch positions, both bounds, and texts
// with what an INI file quotes or escapes.
template <Setting S>
std::vector<SettingValue<S>> sampleValues() {
    constexpr const SettingRow& row = settingRow(S);
    if constexpr (row.type == SettingType::number) {
        return {row.least, row.most};
    } else if constexpr (row.type == SettingType::text) {
        return {"pa ss;w=rd#\"x\\y", "a,b", "@Variant(x)", "  lead", "äöü", "[g]=1", ""};
    } else {
        return {true, false};
    }
}

template <Setting S>
void expectRoundTrip() {
    const std::string_view key = settingRow(S).key;
    const SettingValue<S> fallback = settingFromText<S>("");
    EXPECT_EQ(settingValue<S>(), fallback) << key << ": missing";
    for (const SettingValue<S>& value : sampleValues<S>()) {
        ASSERT_TRUE(setSettingValue<S>(value)) << key;
        EXPECT_EQ(settingValue<S>(), value) << key;
    }
    EXPECT_TRUE(clearSetting(S)) << key;
    EXPECT_EQ(settingValue<S>(), fallback) << key << ": cleared";
}

template <std::size_t... Row>
void expectEveryRoundTrip(std::index_sequence<Row...> /*rows*/) {
    (expectRoundTrip<static_cast<Setting>(Row)>(), ...);
}

TEST_F(SettingsStore, EverySettingReadsBackWhatWasStoredAndItsDefaultWhenMissing) {
    expectEveryRoundTrip(std::make_index_sequence<kSettingsTable.size()>());
}

TEST_F(SettingsStore, ClearingRemovesOnlyThatValue) {
    ASSERT_TRUE(setSettingValue<Setting::UserName>("oper"));
    ASSERT_TRUE(setSettingValue<Setting::Password>("secret"));
    EXPECT_TRUE(clearSetting(Setting::Password));
    EXPECT_FALSE(clearSetting(Setting::Password));
    EXPECT_EQ(settingValue<Setting::Password>(), "");
    EXPECT_EQ(settingValue<Setting::UserName>(), "oper");
}

TEST_F(SettingsStore, ClearingFromAStoreThatDoesNotExistFails) {
    EXPECT_FALSE(clearSetting(Setting::Password));
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(SettingsStore, TheFileIsPrivateToTheUserAndStaysSo) {
    ASSERT_TRUE(setSettingValue<Setting::Password>("secret"));
    EXPECT_EQ(mode(m_file), 0600u);
    EXPECT_EQ(mode(m_file.parent_path()), 0700u);
    ::chmod(m_file.c_str(), 0644);
    ASSERT_TRUE(setSettingValue<Setting::Password>("other"));
    EXPECT_EQ(mode(m_file), 0600u);
    ASSERT_TRUE(clearSetting(Setting::Password));
    EXPECT_EQ(mode(m_file), 0600u);
}

// The rules every writer of the client's files keeps (the table of
// tests/common/private_file_test.cpp, which runs without Qt).
TEST_F(SettingsStore, TheFileRulesHoldWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
        SCOPED_TRACE(mask);
        fs::remove_all(m_folder.path() / "config");
        const mode_t previous = ::umask(mask);
        const bool stored = setSettingValue<Setting::UserName>("oper");
        ::umask(previous);
        ASSERT_TRUE(stored);
        EXPECT_EQ(mode(m_file), 0600u);
        EXPECT_EQ(mode(m_file.parent_path()), 0700u);
        EXPECT_EQ(mode(m_file.parent_path().parent_path()), 0700u);
    }
}

TEST_F(SettingsStore, APlantedLinkIsNeverFollowedAndNoTemporaryFileStays) {
    const fs::path victim = m_folder.path() / "victim";
    std::ofstream(victim) << "untouched";
    fs::create_directories(m_file.parent_path());
    const std::vector<std::string> planted = {"store.ini", "store.ini.new", "store.ini.part",
                                              ".store.ini.part"};
    for (const std::string& name : planted) {
        fs::create_symlink(victim, m_file.parent_path() / name);
    }
    ASSERT_TRUE(setSettingValue<Setting::Password>("secret"));
    EXPECT_EQ(settingValue<Setting::Password>(), "secret");
    EXPECT_FALSE(fs::is_symlink(m_file));
    EXPECT_EQ(mode(m_file), 0600u);
    std::ifstream read(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(read), {}), "untouched");
    for (const auto& entry : fs::directory_iterator(m_file.parent_path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "store.ini" || std::ranges::find(planted, name) != planted.end())
            << name;
    }
}

TEST_F(SettingsStore, AFullDiskKeepsThePreviousFileAndTheWriteFails) {
    test::SmallFolder disk(m_folder.path() / "disk");
    setSettingsFilePath((disk.path() / "store.ini").string());
    ASSERT_TRUE(setSettingValue<Setting::UserName>("oper"));
    disk.fill();
    // Larger than the file-size limit that stands in for a full disk where no tmpfs is made.
    EXPECT_FALSE(setSettingValue<Setting::LastView>(std::string(4096, 'v')));
    disk.free();
    EXPECT_EQ(settingValue<Setting::UserName>(), "oper");
    EXPECT_EQ(settingValue<Setting::LastView>(), "");
    for (const auto& entry : fs::directory_iterator(disk.path())) {
        EXPECT_EQ(entry.path().filename(), "store.ini");
    }
}

TEST_F(SettingsStore, EachWriteIsOnDiskAtOnce) {
    ASSERT_TRUE(setSettingValue<Setting::ShowAlerts>(true));
    EXPECT_NE(fileText().find("ZededUzeriZerave\\ShowAlerts=true"), std::string::npos)
        << fileText();
}

TEST_F(SettingsStore, AnUnwritableLocationFails) {
    const fs::path blocker = m_folder.path() / "file";
    std::ofstream(blocker) << "x";
    setSettingsFilePath((blocker / "store.ini").string());
    EXPECT_FALSE(setSettingValue<Setting::UserName>("oper"));
}

// The file as earlier versions wrote it: QSettings sorts the keys and quotes a text with
// quotes in it.
constexpr std::string_view kEarlierFile = R"([SOFTWARE]
Kelmar\ZededUzeriZerave\AlertCooldownSeconds=90
Kelmar\ZededUzeriZerave\EvidenceFolder=/home/op/Pictures/KRT
Kelmar\ZededUzeriZerave\GridColumns=3
Kelmar\ZededUzeriZerave\IPAddress=10.1.2.3
Kelmar\ZededUzeriZerave\JournalMaxAlarms=2000
Kelmar\ZededUzeriZerave\JournalMaxDays=90
Kelmar\ZededUzeriZerave\LastView="{\"main\":{\"cells\":[\"1\",\"2\"],\"grid\":2}}"
Kelmar\ZededUzeriZerave\LiveGrid=true
Kelmar\ZededUzeriZerave\MaxRecordingMinutes=30
Kelmar\ZededUzeriZerave\Password=
Kelmar\ZededUzeriZerave\PlaySound=false
Kelmar\ZededUzeriZerave\RememberLogin=1
Kelmar\ZededUzeriZerave\ShowAlerts=true
Kelmar\ZededUzeriZerave\UserName=fieldops01
)";
constexpr std::string_view kLastView = R"({"main":{"cells":["1","2"],"grid":2}})";

TEST_F(SettingsStore, AFileOfEarlierVersionsReadsAsItsTypedValues) {
    fs::create_directories(m_file.parent_path());
    std::ofstream(m_file) << kEarlierFile;
    EXPECT_TRUE(settingValue<Setting::RememberLogin>());
    EXPECT_EQ(settingValue<Setting::UserName>(), "fieldops01");
    EXPECT_EQ(settingValue<Setting::IPAddress>(), "10.1.2.3");
    EXPECT_EQ(settingValue<Setting::Password>(), "");
    EXPECT_TRUE(settingValue<Setting::ShowAlerts>());
    EXPECT_FALSE(settingValue<Setting::PlaySound>());
    EXPECT_EQ(settingValue<Setting::AlertCooldownSeconds>(), 90);
    EXPECT_EQ(settingValue<Setting::GridColumns>(), 3);
    EXPECT_TRUE(settingValue<Setting::LiveGrid>());
    EXPECT_EQ(settingValue<Setting::EvidenceFolder>(), "/home/op/Pictures/KRT");
    EXPECT_EQ(settingValue<Setting::MaxRecordingMinutes>(), 30);
    EXPECT_EQ(settingValue<Setting::JournalMaxAlarms>(), 2000);
    EXPECT_EQ(settingValue<Setting::JournalMaxDays>(), 90);
    EXPECT_EQ(settingValue<Setting::LastView>(), kLastView);
}

TEST_F(SettingsStore, TheSameValuesAreWrittenAsEarlierVersionsWroteThem) {
    ASSERT_TRUE(setSettingValue<Setting::RememberLogin>(true));
    ASSERT_TRUE(setSettingValue<Setting::UserName>("fieldops01"));
    ASSERT_TRUE(setSettingValue<Setting::IPAddress>("10.1.2.3"));
    ASSERT_TRUE(setSettingValue<Setting::Password>(""));
    ASSERT_TRUE(setSettingValue<Setting::ShowAlerts>(true));
    ASSERT_TRUE(setSettingValue<Setting::PlaySound>(false));
    ASSERT_TRUE(setSettingValue<Setting::AlertCooldownSeconds>(90));
    ASSERT_TRUE(setSettingValue<Setting::GridColumns>(3));
    ASSERT_TRUE(setSettingValue<Setting::LiveGrid>(true));
    ASSERT_TRUE(setSettingValue<Setting::EvidenceFolder>("/home/op/Pictures/KRT"));
    ASSERT_TRUE(setSettingValue<Setting::MaxRecordingMinutes>(30));
    ASSERT_TRUE(setSettingValue<Setting::JournalMaxAlarms>(2000));
    ASSERT_TRUE(setSettingValue<Setting::JournalMaxDays>(90));
    ASSERT_TRUE(setSettingValue<Setting::LastView>(kLastView));
    EXPECT_EQ(fileText(), kEarlierFile);
}

}  // namespace
}  // namespace krt
