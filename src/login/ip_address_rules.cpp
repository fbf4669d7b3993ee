#include "login/ip_address_rules.h"

#include <algorithm>
#include <cctype>

#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr int kMaxOctet = 255;

bool isDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

bool isOctetText(std::string_view text) {
    return !text.empty() && text.size() <= kOctetDigits &&
           std::ranges::all_of(text, [](char c) { return isDigit(static_cast<char32_t>(c)); });
}

}  // namespace

std::string invalidOctetMessage(int value) {
    return std::to_string(value) +
           " is not a valid entry.  Please specify a value between 0 and 255 for this field.";
}

OctetCharAction classifyOctetChar(char32_t typed) {
    if (isDigit(typed)) {
        return OctetCharAction::InsertThenCheck;
    }
    switch (typed) {
        case U'\t':
            return OctetCharAction::MoveToTabStop;
        case U'\r':
        case U'\n':
            return OctetCharAction::PressDefaultButton;
        case U' ':
        case U'.':
            return OctetCharAction::NextField;
        default:
            break;
    }
    const bool control = typed < 0x20 || typed == 0x7f;
    return control ? OctetCharAction::InsertThenCheck : OctetCharAction::Beep;
}

OctetFieldState checkOctetField(std::string_view text, AutoCheck autoCheck) {
    if (text.size() != kOctetDigits) {
        return OctetFieldState::NotFull;
    }
    if (autoCheck == AutoCheck::On && parseLeadingInt(text) > kMaxOctet) {
        return OctetFieldState::OutOfRange;
    }
    return OctetFieldState::Complete;
}

IPAddressReading readIPAddress(std::span<const std::string, kOctetFields> fields) {
    IPAddressReading reading;
    for (int i = 0; i < kOctetFields; ++i) {
        const std::string& text = fields[static_cast<std::size_t>(i)];
        const int value = text.empty() ? -1 : parseLeadingInt(text);
        if (value < 0 || value > kMaxOctet) {
            reading.value = IPAddrValue{{}, i + 1};
            reading.message =
                text.empty() ? std::string(kMissingOctetMessage) : invalidOctetMessage(value);
            return reading;
        }
        reading.value.octets[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    }
    return reading;
}

std::array<std::string, kOctetFields> splitIPAddressText(std::string_view text) {
    std::array<std::string, kOctetFields> fields;
    for (std::string& field : fields) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (isOctetText(part)) {
            field = part;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    return fields;
}

std::string joinIPAddressText(std::span<const std::string, kOctetFields> fields) {
    std::string text = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) {
        text += '.';
        text += fields[i];
    }
    return text;
}

IPControlLayout layoutIPControl(int clientWidth, int clientHeight, int dotWidth, int edgeHeight) {
    const int d = dotWidth;
    const int f = (clientWidth - 3 * d) / 4;
    IPControlLayout layout;
    for (int i = 0; i < kOctetFields; ++i) {
        layout.fields[static_cast<std::size_t>(i)] = {i * (f + d), edgeHeight, f,
                                                      clientHeight - edgeHeight};
    }
    for (int j = 0; j < kOctetFields - 1; ++j) {
        layout.dots[static_cast<std::size_t>(j)] = {f + j * (f + d), 0, d, clientHeight};
    }
    return layout;
}

}  // namespace krt
