#include "common/ui/window_placement.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

TEST(WindowPlacement, KeepsEveryEdgeOnTheScreen) {
    const QRect screen(0, 0, 1600, 1000);
    const QRect secondScreen(1600, 0, 1280, 1024);
    struct Case {
        const char* what;
        QRect wanted;
        QRect room;
        QRect expected;
    };
    for (const Case& c : {
             Case{"fits where it is", {400, 200, 800, 600}, screen, {400, 200, 800, 600}},
             Case{"past the bottom right", {900, 600, 800, 600}, screen, {800, 400, 800, 600}},
             Case{"past the top left", {-300, -250, 800, 600}, screen, {0, 0, 800, 600}},
             Case{"larger than the screen", {100, 100, 2000, 1200}, screen, screen},
             Case{"on a second screen", {2500, -300, 800, 600}, secondScreen, {2080, 0, 800, 600}},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(keptWithin(c.wanted, c.room), c.expected);
    }
}

}  // namespace
}  // namespace krt
