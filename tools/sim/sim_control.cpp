#include "sim_control.h"

#include <algorithm>
#include <charconv>

#include "common/local_time.h"

namespace krt::sim {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::size_t kTimestampDigits = 17;

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

int digitsAt(std::string_view text, std::size_t offset, std::size_t count) {
    int value = 0;
    std::from_chars(text.data() + offset, text.data() + offset + count, value);
    return value;
}

// 17 digits naming a date that exists and a time of day.
bool isExactTimestamp(std::string_view text) {
    if (text.size() != kTimestampDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const std::chrono::year_month_day date{
        std::chrono::year(digitsAt(text, 0, 4)),
        std::chrono::month(static_cast<unsigned>(digitsAt(text, 4, 2))),
        std::chrono::day(static_cast<unsigned>(digitsAt(text, 6, 2)))};
    return date.ok() && digitsAt(text, 8, 2) < 24 && digitsAt(text, 10, 2) < 60 &&
           digitsAt(text, 12, 2) < 60;
}

// "-SECONDS" or "+SECONDS" within kMaxAlarmOffset.
std::optional<std::chrono::seconds> relativeOffset(std::string_view text) {
    if (text.size() < 2 || (text[0] != '-' && text[0] != '+')) {
        return std::nullopt;
    }
    long long seconds = 0;
    const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() ||
        seconds > kMaxAlarmOffset.count()) {
        return std::nullopt;
    }
    return std::chrono::seconds(text[0] == '-' ? -seconds : seconds);
}

std::optional<AlarmTime> parseWhen(std::string_view word) {
    if (isExactTimestamp(word)) {
        return AlarmTime{AlarmTime::Kind::Exact, std::string(word), {}};
    }
    if (const auto offset = relativeOffset(word)) {
        return AlarmTime{AlarmTime::Kind::Relative, {}, *offset};
    }
    return std::nullopt;
}

ControlCommand invalid(std::string error) {
    ControlCommand command;
    command.kind = ControlCommand::Kind::Invalid;
    command.error = std::move(error);
    return command;
}

// "CHANNEL [NAME]" of the alarm commands.
ControlCommand alarmCommand(std::string_view words, std::optional<AlarmTime> time) {
    const auto [channel, name] = splitWord(words);
    if (channel.empty()) {
        return invalid("alarm needs a channel ID");
    }
    ControlCommand command;
    command.kind = ControlCommand::Kind::Alarm;
    command.channelId = channel;
    command.alarmName = name.empty() ? kManualAlarmName : name;
    command.time = std::move(time);
    return command;
}

}  // namespace

ControlCommand parseControlLine(std::string_view line) {
    const auto [word, rest] = splitWord(trimmed(line));
    if (word.empty()) {
        return {};
    }
    ControlCommand command;
    if (word == "help") {
        command.kind = ControlCommand::Kind::Help;
    } else if (word == "quit" || word == "exit") {
        command.kind = ControlCommand::Kind::Quit;
    } else if (word == "alarm") {
        return alarmCommand(rest, std::nullopt);
    } else if (word == "alarm-at") {
        const auto [when, words] = splitWord(rest);
        const std::optional<AlarmTime> time = parseWhen(when);
        if (!time) {
            return invalid("alarm-at needs YYYYMMDDhhmmssmmm or -SECONDS / +SECONDS, not \"" +
                           std::string(when) + "\"");
        }
        return alarmCommand(words, time);
    } else if (word == "alarm-raw") {
        const auto [stamp, words] = splitWord(rest);
        if (stamp.empty()) {
            return invalid("alarm-raw needs a timestamp text (\"\" for an empty one)");
        }
        return alarmCommand(
            words, AlarmTime{AlarmTime::Kind::Raw, stamp == "\"\"" ? "" : std::string(stamp), {}});
    } else {
        return invalid("unknown command \"" + std::string(word) + "\"");
    }
    return command;
}

std::string alarmTimestamp(const AlarmTime& time, std::chrono::system_clock::time_point now) {
    if (time.kind != AlarmTime::Kind::Relative) {
        return time.text;
    }
    return formatLocalTimeMs(now + time.offset, "%Y%m%d%H%M%S");
}

}  // namespace krt::sim
