#include "common/settings_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <variant>

namespace krt {
namespace {

using Value = std::variant<bool, int, std::string>;

template <std::size_t... Row>
Value readAs(Setting setting, std::string_view stored, std::index_sequence<Row...> /*rows*/) {
    Value value;
    ((setting == static_cast<Setting>(Row)
          ? void(value = settingFromText<static_cast<Setting>(Row)>(stored))
          : void()),
     ...);
    return value;
}

Value readAs(Setting setting, std::string_view stored) {
    return readAs(setting, stored, std::make_index_sequence<kSettingsTable.size()>());
}

std::string zeroPadded(std::size_t bytes, std::string_view number) {
    return std::string(bytes - number.size(), '0') + std::string(number);
}

struct Case {
    Setting setting;
    std::string stored;  // empty: also what a missing value reads as
    Value value;
};

// What each stored text reads as: a value within its bounds as itself, one beyond them or an
// unreadable one as the default (the cooldown: the nearer bound), a missing one as the default.
const std::vector<Case>& cases() {
    static const std::vector<Case> all{
        {Setting::RememberLogin, "1", true},
        {Setting::RememberLogin, "01", true},
        {Setting::RememberLogin, "1x", true},
        {Setting::RememberLogin, " 1", true},
        {Setting::RememberLogin, "0", false},
        {Setting::RememberLogin, "2", false},
        {Setting::RememberLogin, "11", false},
        {Setting::RememberLogin, "-1", false},
        {Setting::RememberLogin, "true", false},
        {Setting::RememberLogin, "", false},

        {Setting::UserName, "fieldops01", std::string("fieldops01")},
        {Setting::UserName, std::string(256, 'u'), std::string(256, 'u')},
        {Setting::UserName, std::string(257, 'u'), std::string()},
        {Setting::UserName, std::string("op\0er", 5), std::string("op")},
        {Setting::UserName, "", std::string()},
        {Setting::IPAddress, "10.1.2.3", std::string("10.1.2.3")},
        {Setting::IPAddress, std::string(257, '1'), std::string()},
        {Setting::IPAddress, "", std::string()},
        {Setting::Password, "pa ss;w=rd#\"x\\y", std::string("pa ss;w=rd#\"x\\y")},
        {Setting::Password, std::string(257, 'p'), std::string()},
        {Setting::Password, "", std::string()},

        {Setting::ShowAlerts, "true", true},
        {Setting::ShowAlerts, "TRUE", true},
        {Setting::ShowAlerts, "tRuE", true},
        {Setting::ShowAlerts, "false", false},
        {Setting::ShowAlerts, "true ", false},
        {Setting::ShowAlerts, " true", false},
        {Setting::ShowAlerts, "truex", false},
        {Setting::ShowAlerts, "tru", false},
        {Setting::ShowAlerts, "1", false},
        {Setting::ShowAlerts, "yes", false},
        {Setting::ShowAlerts, "", false},
        {Setting::PlaySound, "True", true},
        {Setting::PlaySound, "false", false},
        {Setting::PlaySound, "", false},
        {Setting::LiveGrid, "TRUE", true},
        {Setting::LiveGrid, "on", false},
        {Setting::LiveGrid, "", false},

        {Setting::AlertCooldownSeconds, "30", 30},
        {Setting::AlertCooldownSeconds, "0", 0},
        {Setting::AlertCooldownSeconds, "86400", 86400},
        {Setting::AlertCooldownSeconds, "86401", 86400},
        {Setting::AlertCooldownSeconds, "99999999999", 86400},
        {Setting::AlertCooldownSeconds, "99999999999x", 86400},
        {Setting::AlertCooldownSeconds, "-5", 0},
        {Setting::AlertCooldownSeconds, "-99999999999", 0},
        {Setting::AlertCooldownSeconds, "12x", 0},
        {Setting::AlertCooldownSeconds, " 5", 0},
        {Setting::AlertCooldownSeconds, "abc", 0},
        {Setting::AlertCooldownSeconds, "", 0},

        {Setting::GridColumns, "3", 3},
        {Setting::GridColumns, "4", 4},
        {Setting::GridColumns, "2", 2},
        {Setting::GridColumns, "1", 2},
        {Setting::GridColumns, "5", 2},
        {Setting::GridColumns, "03", 2},
        {Setting::GridColumns, "+3", 2},
        {Setting::GridColumns, "3 ", 2},
        {Setting::GridColumns, "x", 2},
        {Setting::GridColumns, "", 2},

        {Setting::EvidenceFolder, "/srv/evidence", std::string("/srv/evidence")},
        {Setting::EvidenceFolder, std::string(4096, 'f'), std::string(4096, 'f')},
        {Setting::EvidenceFolder, std::string(4097, 'f'), std::string()},
        {Setting::EvidenceFolder, "", std::string()},

        {Setting::MaxRecordingMinutes, "1", 1},
        {Setting::MaxRecordingMinutes, "1440", 1440},
        {Setting::MaxRecordingMinutes, "030", 30},
        {Setting::MaxRecordingMinutes, zeroPadded(256, "30"), 30},
        {Setting::MaxRecordingMinutes, zeroPadded(257, "30"), 10},
        {Setting::MaxRecordingMinutes, "0", 10},
        {Setting::MaxRecordingMinutes, "1441", 10},
        {Setting::MaxRecordingMinutes, "-5", 10},
        {Setting::MaxRecordingMinutes, "30 ", 10},
        {Setting::MaxRecordingMinutes, "abc", 10},
        {Setting::MaxRecordingMinutes, "", 10},

        {Setting::JournalMaxAlarms, "2000", 2000},
        {Setting::JournalMaxAlarms, "100", 100},
        {Setting::JournalMaxAlarms, "1000000", 1'000'000},
        {Setting::JournalMaxAlarms, "99", 10'000},
        {Setting::JournalMaxAlarms, "1000001", 10'000},
        {Setting::JournalMaxAlarms, "lots", 10'000},
        {Setting::JournalMaxAlarms, "", 10'000},
        {Setting::JournalMaxDays, "90", 90},
        {Setting::JournalMaxDays, "1", 1},
        {Setting::JournalMaxDays, "3650", 3650},
        {Setting::JournalMaxDays, "0", 30},
        {Setting::JournalMaxDays, "3651", 30},
        {Setting::JournalMaxDays, "9x", 30},
        {Setting::JournalMaxDays, "", 30},
        {Setting::JournalMaxMiB, "4096", 4096},
        {Setting::JournalMaxMiB, "64", 64},
        {Setting::JournalMaxMiB, "1048576", 1024 * 1024},
        {Setting::JournalMaxMiB, "63", 2048},
        {Setting::JournalMaxMiB, "1048577", 2048},
        {Setting::JournalMaxMiB, "2 GiB", 2048},
        {Setting::JournalMaxMiB, "", 2048},
        {Setting::MonitorHoldSeconds, "5", 5},
        {Setting::MonitorHoldSeconds, "4", 30},
        {Setting::MonitorHoldSeconds, "", 30},
        {Setting::MonitorHidesAlerts, "true", true},
        {Setting::MonitorHidesAlerts, "", false},

        {Setting::LastView, R"({"main":{"cells":["1","2"]}})",
         std::string(R"({"main":{"cells":["1","2"]}})")},
        {Setting::LastView, std::string(16384, 'v'), std::string(16384, 'v')},
        {Setting::LastView, std::string(16385, 'v'), std::string()},
        {Setting::LastView, "", std::string()},
    };
    return all;
}

TEST(SettingsTable, EachStoredTextReadsAsTheProgramHasAlwaysReadIt) {
    for (const Case& c : cases()) {
        const std::string_view key = settingRow(c.setting).key;
        EXPECT_EQ(readAs(c.setting, c.stored), c.value)
            << key << " = \"" << c.stored.substr(0, 40) << '"';
    }
}

TEST(SettingsTable, EverySettingHasItsOwnKeyAndReadingCases) {
    std::set<std::string_view> keys;
    std::set<Setting> missingRead;
    for (const SettingRow& row : kSettingsTable) {
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
    }
    for (const Case& c : cases()) {
        if (c.stored.empty()) {
            missingRead.insert(c.setting);
        }
    }
    EXPECT_EQ(missingRead.size(), kSettingsTable.size());
}

TEST(SettingsTable, SwitchesAreWrittenAsTheyHaveAlwaysBeen) {
    EXPECT_EQ(settingText<Setting::RememberLogin>(true), "1");
    EXPECT_EQ(settingText<Setting::RememberLogin>(false), "0");
    EXPECT_EQ(settingText<Setting::ShowAlerts>(true), "true");
    EXPECT_EQ(settingText<Setting::LiveGrid>(false), "false");
    EXPECT_EQ(settingText<Setting::GridColumns>(3), "3");
    EXPECT_EQ(settingText<Setting::JournalMaxAlarms>(1'000'000), "1000000");
}

}  // namespace
}  // namespace krt
