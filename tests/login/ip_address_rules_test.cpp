#include "login/ip_address_rules.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

using Fields = std::array<std::string, kOctetFields>;

TEST(IPAddressRules, EveryTypedCharacterHasItsAction) {
    struct Case {
        char32_t typed;
        OctetCharAction action;
    };
    for (const Case& c : {
             Case{U'0', OctetCharAction::InsertThenCheck},
             Case{U'9', OctetCharAction::InsertThenCheck},
             Case{U'\b', OctetCharAction::InsertThenCheck},
             Case{U'\x16', OctetCharAction::InsertThenCheck},  // Ctrl+V
             Case{U'\x7f', OctetCharAction::InsertThenCheck},
             Case{U'\t', OctetCharAction::MoveToTabStop},
             Case{U'\r', OctetCharAction::PressDefaultButton},
             Case{U' ', OctetCharAction::NextField}, Case{U'.', OctetCharAction::NextField},
             Case{U'a', OctetCharAction::Beep}, Case{U'-', OctetCharAction::Beep},
             Case{U',', OctetCharAction::Beep}, Case{U'\u00e9', OctetCharAction::Beep},
             Case{U'\u0663', OctetCharAction::Beep},  // an Arabic-Indic digit is no octet digit
         }) {
        EXPECT_EQ(classifyOctetChar(c.typed), c.action) << static_cast<unsigned>(c.typed);
    }
}

TEST(IPAddressRules, AFieldIsCompleteAtThreeCharactersUnlessAbove255) {
    struct Case {
        const char* text;
        AutoCheck autoCheck;
        OctetFieldState state;
    };
    for (const Case& c : {
             Case{"", AutoCheck::On, OctetFieldState::NotFull},
             Case{"1", AutoCheck::On, OctetFieldState::NotFull},
             Case{"19", AutoCheck::On, OctetFieldState::NotFull},
             Case{"192", AutoCheck::On, OctetFieldState::Complete},
             Case{"255", AutoCheck::On, OctetFieldState::Complete},
             Case{"000", AutoCheck::On, OctetFieldState::Complete},
             Case{"256", AutoCheck::On, OctetFieldState::OutOfRange},
             Case{"300", AutoCheck::On, OctetFieldState::OutOfRange},
             Case{"300", AutoCheck::Off, OctetFieldState::Complete},
             Case{"999", AutoCheck::Off, OctetFieldState::Complete},
         }) {
        EXPECT_EQ(checkOctetField(c.text, c.autoCheck), c.state) << c.text;
    }
}

TEST(IPAddressRules, TheOutOfRangeMessageNamesTheValue) {
    EXPECT_EQ(invalidOctetMessage(300),
              "300 is not a valid entry.  Please specify a value between 0 and 255 for this "
              "field.");
    EXPECT_EQ(kMissingOctetMessage, "Missing value in IP address");
}

TEST(IPAddressRules, ReadingStopsAtTheFirstEmptyOrInvalidField) {
    struct Case {
        Fields fields;
        IPAddrValue value;
        std::string message;
    };
    for (const Case& c : {
             Case{{"192", "168", "0", "7"}, {{192, 168, 0, 7}, 0}, ""},
             Case{{"0", "0", "0", "0"}, {{0, 0, 0, 0}, 0}, ""},
             Case{{"255", "255", "255", "255"}, {{255, 255, 255, 255}, 0}, ""},
             Case{{"10", "0", "", "1"}, {{}, 3}, "Missing value in IP address"},
             Case{{"", "", "", ""}, {{}, 1}, "Missing value in IP address"},
             Case{{"10", "300", "", ""}, {{}, 2}, invalidOctetMessage(300)},
             Case{{"1", "2", "3", "256"}, {{}, 4}, invalidOctetMessage(256)},
         }) {
        const IPAddressReading reading = readIPAddress(c.fields);
        EXPECT_EQ(reading.value, c.value) << c.fields[0] << "." << c.fields[1];
        EXPECT_EQ(reading.message, c.message);
    }
}

TEST(IPAddressRules, AddressTextsSplitIntoFieldsAndJoinBack) {
    struct Case {
        const char* text;
        Fields fields;
        const char* joined;
    };
    for (const Case& c : {
             Case{"127.0.0.1", {"127", "0", "0", "1"}, "127.0.0.1"},
             Case{"10.0.0", {"10", "0", "0", ""}, "10.0.0."},
             Case{"1..3.4", {"1", "", "3", "4"}, "1..3.4"},
             Case{"1.2.3.4.5", {"1", "2", "3", "4"}, "1.2.3.4"},
             Case{"1000.1.1.1", {"", "1", "1", "1"}, ".1.1.1"},
             Case{"server.local", {"", "", "", ""}, "..."},
             Case{"", {"", "", "", ""}, "..."},
             Case{"-1.2.3.4", {"", "2", "3", "4"}, ".2.3.4"},
         }) {
        const Fields fields = splitIPAddressText(c.text);
        EXPECT_EQ(fields, c.fields) << c.text;
        EXPECT_EQ(joinIPAddressText(fields), c.joined) << c.text;
    }
}

TEST(IPAddressRules, FieldsShareWhatTheDotsLeaveAndStandOnTheEdge) {
    // f = (100 − 3 × 4) / 4 = 22
    const IPControlLayout layout = layoutIPControl(100, 20, 4, 2);
    const std::array<int, 4> fieldLefts{0, 26, 52, 78};
    for (std::size_t i = 0; i < fieldLefts.size(); ++i) {
        EXPECT_EQ(layout.fields[i], (DialogRect{fieldLefts[i], 2, 22, 18})) << i;
    }
    const std::array<int, 3> dotLefts{22, 48, 74};
    for (std::size_t j = 0; j < dotLefts.size(); ++j) {
        EXPECT_EQ(layout.dots[j], (DialogRect{dotLefts[j], 0, 4, 20})) << j;
    }
    // (101 − 15) / 4 truncates to 21.
    EXPECT_EQ(layoutIPControl(101, 24, 5, 1).fields[3], (DialogRect{78, 1, 21, 23}));
}

}  // namespace
}  // namespace krt
