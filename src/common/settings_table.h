#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace krt {

// The group every setting is kept under, as the settings file has always named it.
inline constexpr std::string_view kSettingsGroup = "SOFTWARE\\Kelmar\\ZededUzeriZerave";

// Every value the program keeps between runs.
enum class Setting {
    RememberLogin,
    UserName,
    IPAddress,
    Password,
    ShowAlerts,
    PlaySound,
    AlertCooldownSeconds,
    GridColumns,
    LiveGrid,
    EvidenceFolder,
    MaxRecordingMinutes,
    JournalMaxAlarms,
    JournalMaxDays,
    JournalMaxMiB,
    MonitorHoldSeconds,
    MonitorHidesAlerts,
    LastView,
};

// How a setting is stored. Every value is text; a missing one reads as empty text.
enum class SettingType {
    // A switch written "true" or "false"; on exactly when the text is "true" in any letter case.
    word,
    // A switch written "1" or "0"; on when its leading decimal value is 1 (as atoi reads it).
    digit,
    // A whole number in decimal digits; empty, unreadable or out-of-bounds text reads as
    // `fallback` (or as the nearer bound, see Beyond).
    number,
    // Text kept as entered.
    text,
};

// What a number beyond its bounds reads as.
enum class Beyond { fallback, nearestBound };
// Which texts a number is read from: decimal digits with leading zeros, or only its own text.
enum class Digits { any, exact };

struct SettingRow {
    Setting setting;
    std::string_view key;
    SettingType type;
    int fallback = 0;
    int least = 0;
    int most = 0;
    Beyond beyond = Beyond::fallback;
    Digits digits = Digits::any;
    // A longer stored text reads as missing: it would not have fitted the reading buffer.
    std::size_t maxBytes = 256;
};

// One row per setting, in the order of Setting.
inline constexpr std::array kSettingsTable{
    SettingRow{
        .setting = Setting::RememberLogin, .key = "RememberLogin", .type = SettingType::digit},
    SettingRow{.setting = Setting::UserName, .key = "UserName", .type = SettingType::text},
    SettingRow{.setting = Setting::IPAddress, .key = "IPAddress", .type = SettingType::text},
    // Empty while the session's secret store keeps the password (RememberedLogin).
    SettingRow{.setting = Setting::Password, .key = "Password", .type = SettingType::text},
    SettingRow{.setting = Setting::ShowAlerts, .key = "ShowAlerts", .type = SettingType::word},
    SettingRow{.setting = Setting::PlaySound, .key = "PlaySound", .type = SettingType::word},
    // 0 alerts on every alarm; a longer cooldown than a day reads as a day.
    SettingRow{.setting = Setting::AlertCooldownSeconds,
               .key = "AlertCooldownSeconds",
               .type = SettingType::number,
               .fallback = 0,
               .least = 0,
               .most = 24 * 60 * 60,
               .beyond = Beyond::nearestBound},
    // The grids offered: 2 × 2, 3 × 3 and 4 × 4.
    SettingRow{.setting = Setting::GridColumns,
               .key = "GridColumns",
               .type = SettingType::number,
               .fallback = 2,
               .least = 2,
               .most = 4,
               .digits = Digits::exact},
    // Whether grid tiles draw every frame.
    SettingRow{.setting = Setting::LiveGrid, .key = "LiveGrid", .type = SettingType::word},
    // Where snapshots and clips go; empty: the user's pictures folder.
    SettingRow{.setting = Setting::EvidenceFolder,
               .key = "EvidenceFolder",
               .type = SettingType::text,
               .maxBytes = 4096},
    SettingRow{.setting = Setting::MaxRecordingMinutes,
               .key = "MaxRecordingMinutes",
               .type = SettingType::number,
               .fallback = 10,
               .least = 1,
               .most = 24 * 60},
    // The alarm journal's retention.
    SettingRow{.setting = Setting::JournalMaxAlarms,
               .key = "JournalMaxAlarms",
               .type = SettingType::number,
               .fallback = 10'000,
               .least = 100,
               .most = 1'000'000},
    SettingRow{.setting = Setting::JournalMaxDays,
               .key = "JournalMaxDays",
               .type = SettingType::number,
               .fallback = 30,
               .least = 1,
               .most = 3650},
    // With the snapshots; from room for a few of the largest snapshots to a terabyte.
    SettingRow{.setting = Setting::JournalMaxMiB,
               .key = "JournalMaxMiB",
               .type = SettingType::number,
               .fallback = 2048,
               .least = 64,
               .most = 1024 * 1024},
    // How long an alarm holds its cell on the alarm monitor after its last repeat.
    SettingRow{.setting = Setting::MonitorHoldSeconds,
               .key = "MonitorHoldSeconds",
               .type = SettingType::number,
               .fallback = 30,
               .least = 5,
               .most = 3600},
    // Whether the alert stays away while the alarm monitor is open to show the camera.
    SettingRow{.setting = Setting::MonitorHidesAlerts,
               .key = "MonitorHidesAlerts",
               .type = SettingType::word},
    // The windows and views shown at the end of the last run, as JSON.
    SettingRow{.setting = Setting::LastView,
               .key = "LastView",
               .type = SettingType::text,
               .maxBytes = 16384},
};

constexpr const SettingRow& settingRow(Setting setting) {
    return kSettingsTable[static_cast<std::size_t>(setting)];
}

static_assert([] {
    for (std::size_t row = 0; row < kSettingsTable.size(); ++row) {
        if (static_cast<std::size_t>(kSettingsTable[row].setting) != row) {
            return false;
        }
    }
    return true;
}());

// The value type of a setting: bool, int or std::string.
template <Setting S>
using SettingValue = std::conditional_t<
    settingRow(S).type == SettingType::number, int,
    std::conditional_t<settingRow(S).type == SettingType::text, std::string, bool>>;
// What a value is given as when it is stored.
template <Setting S>
using SettingArgument = std::conditional_t<std::is_same_v<SettingValue<S>, std::string>,
                                           std::string_view, SettingValue<S>>;

// The text as the program reads it: up to its first zero byte, and empty when longer than the
// setting allows.
std::string_view readableText(const SettingRow& row, std::string_view stored);
bool switchFromText(const SettingRow& row, std::string_view text);
int numberFromText(const SettingRow& row, std::string_view text);
std::string switchText(const SettingRow& row, bool on);

// The value a stored text reads as (empty text: a missing value).
template <Setting S>
SettingValue<S> settingFromText(std::string_view stored) {
    constexpr const SettingRow& row = settingRow(S);
    const std::string_view text = readableText(row, stored);
    if constexpr (row.type == SettingType::number) {
        return numberFromText(row, text);
    } else if constexpr (row.type == SettingType::text) {
        return std::string(text);
    } else {
        return switchFromText(row, text);
    }
}

// The text a value is stored as; a number is written as given, its bounds apply on reading.
template <Setting S>
std::string settingText(SettingArgument<S> value) {
    constexpr const SettingRow& row = settingRow(S);
    if constexpr (row.type == SettingType::number) {
        return std::to_string(value);
    } else if constexpr (row.type == SettingType::text) {
        return std::string(value);
    } else {
        return switchText(row, value);
    }
}

}  // namespace krt
