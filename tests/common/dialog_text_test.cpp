#include "common/dialog_text.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(DialogInteger, ReadsDecimalIntegersOnlyWithoutRangeCheck) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    for (const Case& c : {
             Case{"6000", 6000},
             Case{"70000", 70000},
             Case{"0", 0},
             Case{"-5", -5},
             Case{"+7", 7},
             Case{" 12 ", 12},
             Case{"\t5500\n", 5500},
             Case{"2147483647", 2147483647},
             Case{"-2147483648", -2147483647 - 1},
             Case{"abc", std::nullopt},
             Case{"12abc", std::nullopt},
             Case{"1 2", std::nullopt},
             Case{"", std::nullopt},
             Case{"   ", std::nullopt},
             Case{"+", std::nullopt},
             Case{"+-1", std::nullopt},
             Case{"0x10", std::nullopt},
             Case{"1.5", std::nullopt},
             Case{"2147483648", std::nullopt},
             Case{"99999999999", std::nullopt},
         }) {
        EXPECT_EQ(parseDialogInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(StoredSwitch, IsOnOnlyForTrueInAnyLetterCase) {
    struct Case {
        const char* text;
        bool on;
    };
    for (const Case& c :
         {Case{"true", true}, Case{"TRUE", true}, Case{"True", true}, Case{"tRuE", true},
          Case{"false", false}, Case{"", false}, Case{"true ", false}, Case{" true", false},
          Case{"truex", false}, Case{"tru", false}, Case{"1", false}, Case{"yes", false}}) {
        EXPECT_EQ(isStoredTrue(c.text), c.on) << '"' << c.text << '"';
    }
}

TEST(StoredRememberLogin, CountsOnlyWhenItsDecimalValueIsOne) {
    struct Case {
        const char* text;
        bool remembered;
    };
    for (const Case& c :
         {Case{"1", true}, Case{"01", true}, Case{"1x", true}, Case{"0", false}, Case{"2", false},
          Case{"", false}, Case{"-1", false}, Case{"true", false}, Case{"11", false}}) {
        EXPECT_EQ(isRememberedLogin(c.text), c.remembered) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace krt
