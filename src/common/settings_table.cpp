#include "common/settings_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "protocol/xml_message.h"

namespace krt {

std::string_view readableText(const SettingRow& row, std::string_view stored) {
    if (stored.size() > row.maxBytes) {
        return {};
    }
    return stored.substr(0, stored.find('\0'));
}

bool switchFromText(const SettingRow& row, std::string_view text) {
    if (row.type == SettingType::digit) {
        return parseLeadingInt(text) == 1;
    }
    constexpr std::string_view kTrue = "true";
    return std::ranges::equal(text, kTrue, [](char stored, char expected) {
        return std::tolower(static_cast<unsigned char>(stored)) == expected;
    });
}

int numberFromText(const SettingRow& row, std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool nearest = row.beyond == Beyond::nearestBound;
    if (error == std::errc::result_out_of_range && nearest) {
        return text.front() == '-' ? row.least : row.most;
    }
    const bool readable = error == std::errc() && end == text.data() + text.size() &&
                          (row.digits == Digits::any || std::to_string(value) == text);
    if (!readable) {
        return row.fallback;
    }
    if (value >= row.least && value <= row.most) {
        return value;
    }
    return nearest ? std::clamp(value, row.least, row.most) : row.fallback;
}

std::string switchText(const SettingRow& row, bool on) {
    if (row.type == SettingType::digit) {
        return on ? "1" : "0";
    }
    return on ? "true" : "false";
}

}  // namespace krt
