#pragma once

#include <span>
#include <string>
#include <string_view>

namespace krt {

// The key under which the program keeps everything between runs.
inline constexpr std::string_view kSettingsKey = "SOFTWARE\\Kelmar\\ZededUzeriZerave";

// The text values kept between runs, in an INI file: the key path is its group and every
// value is plain text. The file may hold a password, so it is created with mode 0600 in a
// folder of mode 0700. Each operation opens the file, does one thing and syncs it.

// Copies the stored text into the buffer (no terminator is added: callers pass a zero-filled
// buffer). Returns 1; 0 when the value is missing or longer than the buffer, leaving the
// buffer as it was.
int readRegistryString(std::string_view keyPath, std::string_view valueName,
                       std::span<char> buffer);
// The program's setting `valueName` (under kSettingsKey) as text; empty when it is missing or
// longer than `limit` bytes.
std::string readSetting(std::string_view valueName, std::size_t limit = 256);
// Stores the text; 1, or 0 when the file cannot be written.
int writeRegistryString(std::string_view keyPath, std::string_view valueName,
                        std::string_view text);
// Removes the value; 1, or 0 when it did not exist or the file cannot be written.
int deleteRegistryValue(std::string_view keyPath, std::string_view valueName);

// The settings file: ~/.config/Kelmar/ZededUzeriZerave.ini unless overridden (tests).
std::string settingsFilePath();
// Overrides the settings file; an empty path restores the default.
void setSettingsFilePath(const std::string& path);

}  // namespace krt
