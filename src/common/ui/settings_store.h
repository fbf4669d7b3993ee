#pragma once

#include <string>
#include <string_view>

#include "common/settings_table.h"

namespace krt {

// The settings of kSettingsTable, kept in an INI file: kSettingsGroup is its group and every
// value is plain text. The file may hold a password, so it is created with mode 0600 in a
// folder of mode 0700. Each operation opens the file, does one thing and syncs it.

namespace detail {
// The stored text; empty when the value is missing.
std::string storedSettingText(Setting setting);
bool storeSettingText(Setting setting, std::string_view text);
}  // namespace detail

template <Setting S>
SettingValue<S> settingValue() {
    return settingFromText<S>(detail::storedSettingText(S));
}

// Stores the value; false when the file cannot be written.
template <Setting S>
bool setSettingValue(SettingArgument<S> value) {
    return detail::storeSettingText(S, settingText<S>(value));
}

// Removes the value; false when it did not exist or the file cannot be written.
bool clearSetting(Setting setting);

// Removes the value before writing it, as the Settings page saves: a save that fails leaves
// no value rather than the old one.
template <Setting S>
bool replaceSettingValue(SettingArgument<S> value) {
    clearSetting(S);
    return setSettingValue<S>(value);
}

// The settings file: ~/.config/Kelmar/ZededUzeriZerave.ini unless overridden (tests).
std::string settingsFilePath();
// Overrides the settings file; an empty path restores the default.
void setSettingsFilePath(const std::string& path);

}  // namespace krt
