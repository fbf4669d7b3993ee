#include "common/settings_table.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "protocol/xml_message.h"

namespace krt {

std::string_view readableText(const SettingSpec& spec, std::string_view stored) {
    if (stored.size() > spec.maxBytes) {
        return {};
    }
    return stored.substr(0, stored.find('\0'));
}

bool switchFromText(const SettingSpec& spec, std::string_view text) {
    if (spec.type == SettingType::digit) {
        return parseLeadingInt(text) == 1;
    }
    constexpr std::string_view kTrue = "true";
    return std::ranges::equal(text, kTrue, [](char stored, char expected) {
        return std::tolower(static_cast<unsigned char>(stored)) == expected;
    });
}

int numberFromText(const SettingSpec& spec, std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool nearest = spec.beyond == Beyond::nearestBound;
    if (error == std::errc::result_out_of_range && nearest) {
        return text.front() == '-' ? spec.least : spec.most;
    }
    const bool readable = error == std::errc() && end == text.data() + text.size() &&
                          (spec.digits == Digits::any || std::to_string(value) == text);
    if (!readable) {
        return spec.fallback;
    }
    if (value >= spec.least && value <= spec.most) {
        return value;
    }
    return nearest ? std::clamp(value, spec.least, spec.most) : spec.fallback;
}

std::string switchText(const SettingSpec& spec, bool on) {
    if (spec.type == SettingType::digit) {
        return on ? "1" : "0";
    }
    return on ? "true" : "false";
}

}  // namespace krt
