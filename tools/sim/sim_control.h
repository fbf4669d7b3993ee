#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace krt::sim {

// When an alarm typed on the control line says it happened.
struct AlarmTime {
    enum class Kind {
        Exact,     // `text`: 17 digits of a real local time, YYYYMMDDhhmmssmmm
        Relative,  // `offset` from the moment it is pushed (negative: in the past)
        Raw,       // `text` sent as the timestamp exactly as typed, whatever it is
    };
    Kind kind = Kind::Exact;
    std::string text;
    std::chrono::seconds offset{0};
};

// A line typed on the simulator's standard input.
struct ControlCommand {
    enum class Kind { Empty, Alarm, Help, Quit, Invalid };
    Kind kind = Kind::Empty;
    std::string channelId;          // Alarm
    std::string alarmName;          // Alarm: the rest of the line, "Manual Alarm" when it is empty
    std::optional<AlarmTime> time;  // Alarm: none for now
    std::string error;              // Invalid
};

inline constexpr std::string_view kManualAlarmName = "Manual Alarm";
inline constexpr std::string_view kControlHelp =
    "alarm CHANNEL [NAME]            push an alarm stamped now (NAME may hold blanks)\n"
    "alarm-at WHEN CHANNEL [NAME]    push an alarm stamped WHEN: YYYYMMDDhhmmssmmm (local\n"
    "                                time) or -SECONDS / +SECONDS from now (-300: a late alarm)\n"
    "alarm-raw STAMP CHANNEL [NAME]  push an alarm whose timestamp is STAMP exactly as typed,\n"
    "                                valid or not (\"\" for an empty one)\n"
    "help                            show this text\n"
    "quit                            stop the server";

// Relative times reach at most this far from now.
inline constexpr std::chrono::seconds kMaxAlarmOffset{10LL * 366 * 24 * 3600};

// One of the commands of kControlHelp; blanks around words are ignored.
ControlCommand parseControlLine(std::string_view line);

// The 17-digit local timestamp of an alarm time pushed at `now`; Exact and Raw give their text.
std::string alarmTimestamp(const AlarmTime& time, std::chrono::system_clock::time_point now);

}  // namespace krt::sim
