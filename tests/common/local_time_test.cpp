#include "common/local_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/local_clock.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;
using test::localTimePoint;

TEST(LocalTime, FormatsTheLocalTimeAsEveryTextOfTheProgramWritesIt) {
    const system_clock::time_point time = localTimePoint(2013, 11, 5, 9, 41, 2) + 7ms;
    struct Case {
        const char* format;
        std::string text;
    };
    for (const Case& c :
         {Case{"%Y-%m-%d %H:%M:%S", "2013-11-05 09:41:02"},
          Case{"%Y%m%d-%H%M%S", "20131105-094102"},
          Case{"%d-%b-%Y %H:%M:%S", "05-Nov-2013 09:41:02"}, Case{"%H:%M", "09:41"}}) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(formatLocalTime(time, c.format), c.text);
    }
    EXPECT_EQ(formatLocalTimeMs(time, "%Y-%m-%d %H:%M:%S."), "2013-11-05 09:41:02.007");
    EXPECT_EQ(formatLocalTimeMs(time, "%Y%m%d%H%M%S"), "20131105094102007");
}

TEST(LocalTime, MillisecondsBelongToTheSecondThatHasBegun) {
    const system_clock::time_point time = localTimePoint(1969, 12, 31, 23, 59, 59) + 750ms;
    EXPECT_EQ(formatLocalTimeMs(time, "%H:%M:%S."), "23:59:59.750");
}

}  // namespace
}  // namespace krt
