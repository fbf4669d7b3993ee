#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/dialog_units.h"

namespace krt {

// The rules of the IP address control: four octet fields of at most three digits each.

inline constexpr int kOctetFields = 4;
inline constexpr std::size_t kOctetDigits = 3;
inline constexpr std::string_view kMissingOctetMessage = "Missing value in IP address";

// "300 is not a valid entry.  Please specify a value between 0 and 255 for this field."
std::string invalidOctetMessage(int value);

// What a character typed into an octet field does.
enum class OctetCharAction {
    InsertThenCheck,     // a digit or a control character: default handling, then the full test
    MoveToTabStop,       // Tab: leave the control for the dialog's next (or previous) tab stop
    PressDefaultButton,  // Enter
    NextField,           // space or '.'
    Beep,                // anything else is dropped
};
OctetCharAction classifyOctetChar(char32_t typed);

// The test after an edit: a field holding three characters is complete, unless its value is
// above 255 (not checked when auto-check is off).
enum class OctetFieldState { NotFull, OutOfRange, Complete };
enum class AutoCheck { On, Off };
OctetFieldState checkOctetField(std::string_view text, AutoCheck autoCheck);

// The address as the control reports it: the four octets in display order and the 1-based
// number of the first invalid field (0 when all are valid).
struct IPAddrValue {
    std::array<std::uint8_t, kOctetFields> octets{};
    int invalidField = 0;
    bool operator==(const IPAddrValue&) const = default;
};
struct IPAddressReading {
    IPAddrValue value;
    std::string message;  // what to tell the user about the invalid field; empty when valid
};
// Reads the fields in order and stops at the first one that is empty or not within 0-255.
IPAddressReading readIPAddress(std::span<const std::string, kOctetFields> fields);

// The field texts of an address text: the parts between the dots; a part that is not one to
// three digits, and every part after the fourth, leaves its field empty.
std::array<std::string, kOctetFields> splitIPAddressText(std::string_view text);
// The fields joined with dots: the text that the login and the remembered login use.
std::string joinIPAddressText(std::span<const std::string, kOctetFields> fields);

// Where the four fields and the three dots go in the control's client area: each field is a
// quarter of what the dots leave, pushed down by the edge height; the dots take full height.
struct IPControlLayout {
    std::array<DialogRect, kOctetFields> fields;
    std::array<DialogRect, kOctetFields - 1> dots;
};
IPControlLayout layoutIPControl(int clientWidth, int clientHeight, int dotWidth, int edgeHeight);

}  // namespace krt
