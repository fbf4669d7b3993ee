#pragma once

#include <string>
#include <string_view>

namespace krt::sim {

// A line typed on the simulator's standard input.
struct ControlCommand {
    enum class Kind { Empty, Alarm, Help, Quit, Invalid };
    Kind kind = Kind::Empty;
    std::string channelId;  // Alarm
    std::string alarmName;  // Alarm: the rest of the line, "Manual Alarm" when it is empty
    std::string error;      // Invalid
};

inline constexpr std::string_view kManualAlarmName = "Manual Alarm";
inline constexpr std::string_view kControlHelp =
    "alarm CHANNEL [NAME]  push an alarm (NAME may hold blanks)\n"
    "help                  show this text\n"
    "quit                  stop the server";

// "alarm CHANNEL NAME", "help" or "quit"; blanks around words are ignored.
ControlCommand parseControlLine(std::string_view line);

}  // namespace krt::sim
