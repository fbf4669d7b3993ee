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

}  // namespace
}  // namespace krt
