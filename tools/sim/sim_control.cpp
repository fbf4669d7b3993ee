#include "sim_control.h"

namespace krt::sim {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The first word and the trimmed rest.
std::pair<std::string_view, std::string_view> splitWord(std::string_view text) {
    const std::size_t end = text.find_first_of(kBlanks);
    if (end == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, end), trimmed(text.substr(end))};
}

}  // namespace

ControlCommand parseControlLine(std::string_view line) {
    const auto [word, rest] = splitWord(trimmed(line));
    ControlCommand command;
    if (word.empty()) {
        return command;
    }
    if (word == "help") {
        command.kind = ControlCommand::Kind::Help;
    } else if (word == "quit" || word == "exit") {
        command.kind = ControlCommand::Kind::Quit;
    } else if (word == "alarm") {
        const auto [channel, name] = splitWord(rest);
        if (channel.empty()) {
            command.kind = ControlCommand::Kind::Invalid;
            command.error = "alarm needs a channel ID";
            return command;
        }
        command.kind = ControlCommand::Kind::Alarm;
        command.channelId = channel;
        command.alarmName = name.empty() ? kManualAlarmName : name;
    } else {
        command.kind = ControlCommand::Kind::Invalid;
        command.error = "unknown command \"" + std::string(word) + "\"";
    }
    return command;
}

}  // namespace krt::sim
